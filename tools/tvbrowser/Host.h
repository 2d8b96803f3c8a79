// The browser window: a QWebView whose page prints its console to stdout and
// sees the `tvbrowser` hook object, and the verdict/exit logic around it.
#ifndef TVBROWSER_HOST_H
#define TVBROWSER_HOST_H

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWebPage>
#include <memory>

#include "Options.h"
#include "SimSocket.h"
#include "Verdict.h"

class QWebInspector;
class QWebView;
class QSocketNotifier;
class Host;

class Page : public QWebPage {
  Q_OBJECT
 public:
  Page(Host* host, QObject* parent);

 protected:
  void javaScriptConsoleMessage(const QString& message, int lineNumber, const QString& sourceID) override;
  void javaScriptAlert(QWebFrame* frame, const QString& msg) override;
  bool javaScriptConfirm(QWebFrame* frame, const QString& msg) override;
  bool javaScriptPrompt(QWebFrame* frame, const QString& msg, const QString& defaultValue, QString* result) override;

 private:
  Host* m_host;
};

// The object the page sees as window.tvbrowser.
class Hook : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool headless READ headless CONSTANT)
 public:
  explicit Hook(Host* host) : QObject(nullptr), m_host(host) {}
  bool headless() const;

  Q_INVOKABLE void pass(const QString& message = QString());
  Q_INVOKABLE void fail(const QString& message = QString());
  Q_INVOKABLE void log(const QString& message);
  Q_INVOKABLE QString sim(const QString& requestLine);

 private:
  Host* m_host;
};

class Host : public QObject {
  Q_OBJECT
 public:
  Host(const Options& options, bool headless);
  ~Host() override;

  void Open(const QUrl& url);
  // With --remote-inspector: starts WebKit's inspector server and prints its
  // address; false (with the reason) when the port cannot be used.
  bool StartRemoteInspector(QString& error);
  void Print(const QString& line);
  void Verdict(bool passed, const QString& message);
  QString Sim(const QString& line);
  bool Headless() const { return m_headless; }
  bool Locations() const { return m_options.locations; }
  // Set up SIGINT/SIGTERM/SIGUSR1 handling (call once, before the event loop).
  void WatchSignals();

 private slots:
  void OnLoadFinished(bool ok);
  void OnWindowObjectCleared();
  void OnTimeout();
  void OnSignal();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Finish(int code);
  bool Screenshot(const QString& why);

  static constexpr int kInspectorWidth = 800;

  Options m_options;
  std::string m_asked;  // the URL of the page the program was asked to open
  bool m_headless;
  QWidget* m_window = nullptr;  // the top-level window: the view, or the view and the inspector
  QWebView* m_view = nullptr;
  QWebInspector* m_inspector = nullptr;
  Page* m_page = nullptr;
  Hook m_hook;
  QTimer m_timeout;
  SimSocket m_sim;
  hostkit::Verdict m_verdict;
  bool m_finishing = false;
  QSocketNotifier* m_signalNotifier = nullptr;
};

#endif
