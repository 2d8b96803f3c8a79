// tvbrowser: opens a page in Qt WebKit with the TV plug-in module on the
// plug-in path and exits with the page's verdict. See UsageText().
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <string>
#include <vector>

#include "Host.h"
#include "Options.h"
#include "Xvfb.h"

#ifndef NPTV_DEFAULT_PLUGIN_DIR
#define NPTV_DEFAULT_PLUGIN_DIR ""
#endif

namespace {

bool HasDisplay() {
  const char* d = std::getenv("DISPLAY");
  return d && *d;
}

// A page given as an existing file becomes a file URL; anything with a
// scheme is taken as a URL; anything else is an error.
bool ResolvePage(const std::string& page, QUrl& url, std::string& error) {
  const QString p = QString::fromStdString(page);
  QFileInfo fi(p);
  if (fi.exists()) {
    if (!fi.isFile()) {
      error = "not a file: " + page;
      return false;
    }
    url = QUrl::fromLocalFile(fi.absoluteFilePath());
    return true;
  }
  // A file name with a query (page.html?phase=2): the file part must exist.
  const int q = p.indexOf('?');
  if (q > 0 && QFileInfo(p.left(q)).isFile()) {
    url = QUrl::fromLocalFile(QFileInfo(p.left(q)).absoluteFilePath());
    url.setQuery(p.mid(q + 1));
    return true;
  }
  const QUrl u(p);
  if (u.isValid() && u.scheme().size() > 1) {
    url = u;
    return true;
  }
  error = "no such page: " + page;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  Options options;
  std::string error;
  if (!ParseOptions(args, options, error)) {
    std::fprintf(stderr, "tvbrowser: %s\n(tvbrowser --help for usage)\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(UsageText(), stdout);
    return 0;
  }
  QUrl url;
  if (!ResolvePage(options.page, url, error)) {
    std::fprintf(stderr, "tvbrowser: %s\n", error.c_str());
    return 2;
  }

  for (const std::string& script : options.scripts) {
    if (!QFileInfo(QString::fromStdString(script)).isFile()) {
      std::fprintf(stderr, "tvbrowser: --script: no such file: %s\n", script.c_str());
      return 2;
    }
  }

  // The plug-in path must be in place before WebKit builds its plug-in list.
  std::string pluginDir = options.pluginDir;
  if (pluginDir.empty()) {
    const char* env = std::getenv("QTWEBKIT_PLUGIN_PATH");
    pluginDir = env && *env ? env : NPTV_DEFAULT_PLUGIN_DIR;
  }
  if (pluginDir.empty()) {
    std::fprintf(stderr, "tvbrowser: no plug-in folder: give --plugin-dir DIR\n");
    return 2;
  }
  setenv("QTWEBKIT_PLUGIN_PATH", pluginDir.c_str(), 1);
  bool moduleFound = false;
  for (const QString& dir : QString::fromStdString(pluginDir).split(':', Qt::SkipEmptyParts))
    moduleFound = moduleFound || QFileInfo(QDir(dir).filePath("libnptv.so")).isFile();
  if (!moduleFound)
    std::fprintf(stderr, "tvbrowser: warning: no libnptv.so in %s: the TV object will be missing\n",
                 pluginDir.c_str());

  // Headless: a private X server of the page's size.
  Xvfb xvfb;
  const bool headless = options.headless || (!options.noXvfb && !HasDisplay());
  if (headless && !options.noXvfb) {
    std::string display;
    if (!xvfb.Start(options.width, options.height, display, error)) {
      std::fprintf(stderr, "tvbrowser: %s\n", error.c_str());
      return 4;
    }
    setenv("DISPLAY", display.c_str(), 1);
    // Plug-ins are hosted on X11 only.
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    unsetenv("WAYLAND_DISPLAY");
  }

  // Qt wants a private runtime folder; give it one rather than a warning.
  std::string runtimeDir;
  if (!std::getenv("XDG_RUNTIME_DIR")) {
    char tmpl[] = "/tmp/tvbrowser-runtime-XXXXXX";
    if (mkdtemp(tmpl)) {
      runtimeDir = tmpl;
      setenv("XDG_RUNTIME_DIR", tmpl, 1);
    }
  }

  int code;
  {
    QApplication app(argc, argv);
    Host host(options, headless);
    host.WatchSignals();
    std::printf("tvbrowser: plug-in path %s%s\n", pluginDir.c_str(),
                headless ? " (headless)" : "");
    std::fflush(stdout);
    QString inspectorError;
    if (!host.StartRemoteInspector(inspectorError)) {
      std::fprintf(stderr, "tvbrowser: %s\n", inspectorError.toLocal8Bit().constData());
      code = 2;
    } else {
      host.Open(url);
      code = app.exec();
    }
  }
  xvfb.Stop();
  if (!runtimeDir.empty()) rmdir(runtimeDir.c_str());
  return code;
}
