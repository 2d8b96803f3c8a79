#include "Host.h"
#include "Loopback.h"
#include "OriginRule.h"

#include <QApplication>
#include <QEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSocketNotifier>
#include <QSplitter>
#include <QTcpServer>
#include <QWebInspector>
#include <QWebFrame>
#include <QWebSettings>
#include <QWebView>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int gSignalFds[2] = {-1, -1};

void SignalHandler(int sig) {
  const unsigned char b = static_cast<unsigned char>(sig);
  (void)!write(gSignalFds[1], &b, 1);
}

const char* EnvOr(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v ? v : fallback;
}

}  // namespace

// ---- Page ------------------------------------------------------------------

Page::Page(Host* host, QObject* parent) : QWebPage(parent), m_host(host) {}

void Page::javaScriptConsoleMessage(const QString& message, int lineNumber, const QString& sourceID) {
  if (m_host->Locations() && !sourceID.isEmpty())
    m_host->Print(message + "  [" + QFileInfo(QUrl(sourceID).path()).fileName() + ":" +
                  QString::number(lineNumber) + "]");
  else
    m_host->Print(message);
}

void Page::javaScriptAlert(QWebFrame*, const QString& msg) { m_host->Print("alert: " + msg); }

bool Page::javaScriptConfirm(QWebFrame*, const QString& msg) {
  m_host->Print("confirm (answered no): " + msg);
  return false;
}

bool Page::javaScriptPrompt(QWebFrame*, const QString& msg, const QString&, QString*) {
  m_host->Print("prompt (cancelled): " + msg);
  return false;
}

// ---- Hook ------------------------------------------------------------------

bool Hook::headless() const { return m_host->Headless(); }
void Hook::pass(const QString& message) { m_host->Verdict(true, message); }
void Hook::fail(const QString& message) { m_host->Verdict(false, message); }
void Hook::log(const QString& message) { m_host->Print(message); }
QString Hook::sim(const QString& requestLine) { return m_host->Sim(requestLine); }

// ---- Host ------------------------------------------------------------------

Host::Host(const Options& options, bool headless)
    : m_options(options),
      m_headless(headless),
      m_hook(this),
      m_sim(EnvOr("QUV_SIM_SOCKET", "")),
      m_verdict("tvbrowser", [this](const std::string& line) { Print(QString::fromStdString(line)); }) {
  QWebSettings* s = QWebSettings::globalSettings();
  s->setAttribute(QWebSettings::PluginsEnabled, true);
  s->setAttribute(QWebSettings::JavascriptEnabled, true);
  s->setAttribute(QWebSettings::LocalContentCanAccessFileUrls, true);
  // The inspector needs the developer extras (also for the remote one).
  s->setAttribute(QWebSettings::DeveloperExtrasEnabled,
                  m_options.inspect || m_options.remoteInspectorPort > 0);

  m_view = new QWebView;
  m_page = new Page(this, m_view);
  m_view->setPage(m_page);
  m_view->resize(m_options.width, m_options.height);
  m_page->setViewportSize(QSize(m_options.width, m_options.height));
  m_window = m_view;
  if (m_options.inspect) {
    // The page on the left, its inspector on the right, in one window.
    auto* split = new QSplitter;
    split->addWidget(m_view);
    m_inspector = new QWebInspector;
    m_inspector->setPage(m_page);
    split->addWidget(m_inspector);
    split->resize(m_options.width + kInspectorWidth, m_options.height);
    split->setSizes({m_options.width, kInspectorWidth});
    m_window = split;
  }
  m_window->setWindowTitle("tvbrowser");
  m_window->installEventFilter(this);
  QApplication::setQuitOnLastWindowClosed(false);
  connect(m_page->mainFrame(), &QWebFrame::javaScriptWindowObjectCleared, this, &Host::OnWindowObjectCleared);
  connect(m_page, &QWebPage::loadFinished, this, &Host::OnLoadFinished);

  m_timeout.setSingleShot(true);
  connect(&m_timeout, &QTimer::timeout, this, &Host::OnTimeout);
}

Host::~Host() { delete m_window; }

bool Host::StartRemoteInspector(QString& error) {
  const int port = m_options.remoteInspectorPort;
  if (port <= 0) return true;
  // WebKit's server does not say whether it could listen: make sure the
  // port is free first, so that a busy port is an error and not a silence.
  {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::Any, static_cast<quint16>(port))) {
      error = QString("--remote-inspector: port %1 cannot be used: %2").arg(port).arg(probe.errorString());
      return false;
    }
  }
  RestrictToLoopback(port);
  m_page->setProperty("_q_webInspectorServerPort", port);
  Print(QString("tvbrowser: Web Inspector server: open http://127.0.0.1:%1/ in a browser on this machine").arg(port));
  return true;
}

void Host::Open(const QUrl& url) {
  Print("tvbrowser: opening " + url.toString());
  if (m_options.timeoutSeconds > 0) m_timeout.start(static_cast<int>(m_options.timeoutSeconds * 1000));
  // A windowless plug-in is only set up inside a view that is shown; under
  // Xvfb no one sees it.
  m_window->show();
  m_asked = url.toString(QUrl::FullyEncoded).toStdString();
  m_view->load(url);
}

void Host::Print(const QString& line) {
  const QByteArray utf8 = line.toUtf8();
  std::fwrite(utf8.constData(), 1, static_cast<size_t>(utf8.size()), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void Host::OnWindowObjectCleared() {
  // Only the asked page's origin gets the hook (frames below the top one
  // never do: they are not given it, and cannot reach the top's of another origin).
  const std::string here = m_page->mainFrame()->url().toString(QUrl::FullyEncoded).toStdString();
  if (!nptvorigin::Same(m_asked, here)) {
    Print("tvbrowser: no hook for " + QString::fromStdString(here) + ", not of the asked page's origin");
    return;
  }
  m_page->mainFrame()->addToJavaScriptWindowObject("tvbrowser", &m_hook);
}

void Host::OnLoadFinished(bool ok) {
  if (!ok) {
    const QString url = m_page->mainFrame()->requestedUrl().toString();
    if (m_verdict.Fail(hostkit::kNotLoaded, "the page could not be loaded: " + url.toStdString())) Finish(m_verdict.code());
    return;
  }
  // Scripts given on the command line, on every load of the page.
  for (const std::string& name : m_options.scripts) {
    QFile file(QString::fromStdString(name));
    if (!file.open(QIODevice::ReadOnly)) {
      m_verdict.Fail(hostkit::kNotLoaded, "cannot read the script " + name);
      Finish(hostkit::kNotLoaded);
      return;
    }
    m_page->mainFrame()->evaluateJavaScript(QString::fromUtf8(file.readAll()));
    if (m_finishing) return;
  }
}

void Host::OnTimeout() {
  if (!m_verdict.Timeout(m_options.timeoutSeconds)) return;
  Screenshot("timeout");
  Finish(m_verdict.code());
}

void Host::Verdict(bool passed, const QString& message) {
  if (!m_verdict.Page(passed, message.toStdString())) return;
  m_timeout.stop();
  // Leave the script call first: exit from the event loop.
  QTimer::singleShot(0, this, [this, passed] {
    Screenshot(passed ? "verdict" : "failure");
    if (m_options.stay && !m_headless) {
      Print("tvbrowser: staying open; close the window to quit");
      return;
    }
    Finish(m_verdict.code());
  });
}

QString Host::Sim(const QString& line) {
  std::string reply, error;
  if (!m_sim.Request(line.toStdString(), reply, error)) {
    Print("tvbrowser: control socket: " + QString::fromStdString(error));
    // A reply in the protocol's own shape, so that pages handle one format.
    QString e = QString::fromStdString(error);
    e.replace('\\', "\\\\").replace('"', "\\\"");
    return "{\"ok\":false,\"error\":\"tvbrowser: " + e + "\"}";
  }
  return QString::fromUtf8(reply.data(), static_cast<int>(reply.size()));
}

bool Host::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_window && event->type() == QEvent::Close && !m_finishing)
    Finish(m_verdict.WindowClosed(m_options.stay));
  return QObject::eventFilter(watched, event);
}

bool Host::Screenshot(const QString& why) {
  if (m_options.screenshot.empty()) return false;
  QImage image(m_page->viewportSize(), QImage::Format_ARGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    m_page->mainFrame()->render(&painter);
  }
  const QString path = QFileInfo(QString::fromStdString(m_options.screenshot)).absoluteFilePath();
  if (!image.save(path, "PNG")) {
    Print("tvbrowser: could not write the screenshot " + path);
    return false;
  }
  Print("tvbrowser: screenshot (" + why + ") " + path);
  return true;
}

void Host::Finish(int code) {
  if (m_finishing) return;
  m_finishing = true;
  // Destroy the page (and with it the plug-in instances) before the exit.
  if (m_inspector) m_inspector->setPage(nullptr);
  m_view->setPage(nullptr);
  QApplication::exit(code);
}

void Host::WatchSignals() {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalFds) != 0) return;
  struct sigaction sa {};
  sa.sa_handler = SignalHandler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGUSR1, &sa, nullptr);
  sigaction(SIGUSR2, &sa, nullptr);
  m_signalNotifier = new QSocketNotifier(gSignalFds[0], QSocketNotifier::Read, this);
  connect(m_signalNotifier, &QSocketNotifier::activated, this, &Host::OnSignal);
}

void Host::OnSignal() {
  unsigned char sig = 0;
  if (read(gSignalFds[0], &sig, 1) != 1) return;
  if (sig == SIGUSR2) {
    if (!Screenshot("SIGUSR2")) Print("tvbrowser: SIGUSR2: no --screenshot file given");
    return;
  }
  if (sig == SIGUSR1 && !Screenshot("SIGUSR1")) Print("tvbrowser: SIGUSR1: no --screenshot file given");
  Finish(m_verdict.Signal(sig));
}
