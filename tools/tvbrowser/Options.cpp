#include "Options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

bool ParseSize(const std::string& text, int& w, int& h) {
  const auto x = text.find('x');
  if (x == std::string::npos || x == 0 || x + 1 >= text.size()) return false;
  char* end = nullptr;
  errno = 0;
  const long lw = std::strtol(text.c_str(), &end, 10);
  if (errno || end != text.c_str() + x) return false;
  const long lh = std::strtol(text.c_str() + x + 1, &end, 10);
  if (errno || *end != '\0') return false;
  if (lw < 16 || lh < 16 || lw > 8192 || lh > 8192) return false;
  w = static_cast<int>(lw);
  h = static_cast<int>(lh);
  return true;
}

bool ParsePort(const std::string& text, int& port) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno || end == text.c_str() || *end != '\0' || v < 1 || v > 65535) return false;
  port = static_cast<int>(v);
  return true;
}

bool ParseSeconds(const std::string& text, double& out) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (errno || end == text.c_str() || *end != '\0' || !std::isfinite(v) || v <= 0) return false;
  out = v;
  return true;
}

}  // namespace

const char* UsageText() {
  return
      "usage: tvbrowser [options] PAGE\n"
      "Opens PAGE (a file or a URL) in Qt WebKit with plug-ins enabled and the TV\n"
      "plug-in module on the plug-in path, prints the page's console messages to\n"
      "stdout and exits with the page's verdict.\n"
      "\n"
      "options:\n"
      "  --plugin-dir DIR      folder holding libnptv.so (default: $QTWEBKIT_PLUGIN_PATH,\n"
      "                        else the folder the module was built in)\n"
      "  --screenshot FILE     write a PNG of the page when it gives its verdict\n"
      "                        (and on SIGUSR1)\n"
      "  --timeout SECONDS     fail when the page gives no verdict in time\n"
      "  --script FILE         run FILE in the page once it has loaded (repeatable;\n"
      "                        lets a test drive a page that knows nothing of tests)\n"
      "  --size WxH            viewport size (default 1280x720)\n"
      "  --headless            start a private Xvfb even when a display is set\n"
      "  --no-xvfb             never start Xvfb\n"
      "  --stay                keep the window open after the verdict\n"
      "  --locations           append source:line to console messages\n"
      "  --inspect             open the Web Inspector (elements, console, script\n"
      "                        debugger, network) beside the page\n"
      "  --remote-inspector PORT\n"
      "                        serve the Web Inspector at http://127.0.0.1:PORT/ for\n"
      "                        another browser on this machine (that address lists\n"
      "                        the page with a link to its inspector); printed at start\n"
      "  -h, --help            this text\n"
      "\n"
      "The page sees a window object `tvbrowser`:\n"
      "  tvbrowser.pass(msg)   verdict: passed (exit 0)\n"
      "  tvbrowser.fail(msg)   verdict: failed (exit 1)\n"
      "  tvbrowser.log(msg)    print a line to stdout\n"
      "  tvbrowser.sim(json)   send one JSON request line to the simulated TV's control\n"
      "                        socket ($QUV_SIM_SOCKET) and return its reply line\n"
      "  tvbrowser.headless    true when no one can see the window\n"
      "  tvbrowser.residentKiB()  the browser's resident memory in KiB\n"
      "  tvbrowser.collectGarbage()  collect script garbage, empty the memory\n"
      "                        caches, give free heap back to the system\n"
      "\n"
      "exit status: 0 passed, 1 failed, 2 bad command line or page not loaded,\n"
      "3 timeout, 4 display could not be started, 130/143 interrupted/terminated\n"
      "(SIGUSR1: screenshot, then exit 0; SIGUSR2: screenshot, go on)\n";
}

bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error) {
  Options o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) {
        error = "option " + a + " needs a value";
        return false;
      }
      into = args[++i];
      return true;
    };
    std::string v;
    if (a == "-h" || a == "--help") {
      o.help = true;
    } else if (a == "--plugin-dir") {
      if (!value(o.pluginDir)) return false;
      if (o.pluginDir.empty()) {
        error = "--plugin-dir: empty folder name";
        return false;
      }
    } else if (a == "--screenshot") {
      if (!value(o.screenshot)) return false;
      if (o.screenshot.empty()) {
        error = "--screenshot: empty file name";
        return false;
      }
    } else if (a == "--script") {
      if (!value(v)) return false;
      if (v.empty()) {
        error = "--script: empty file name";
        return false;
      }
      o.scripts.push_back(v);
    } else if (a == "--timeout") {
      if (!value(v)) return false;
      if (!ParseSeconds(v, o.timeoutSeconds)) {
        error = "--timeout: '" + v + "' is not a positive number of seconds";
        return false;
      }
    } else if (a == "--size") {
      if (!value(v)) return false;
      if (!ParseSize(v, o.width, o.height)) {
        error = "--size: '" + v + "' is not WIDTHxHEIGHT (16..8192 each)";
        return false;
      }
    } else if (a == "--headless") {
      o.headless = true;
    } else if (a == "--no-xvfb") {
      o.noXvfb = true;
    } else if (a == "--stay") {
      o.stay = true;
    } else if (a == "--locations") {
      o.locations = true;
    } else if (a == "--inspect") {
      o.inspect = true;
    } else if (a == "--remote-inspector") {
      if (!value(v)) return false;
      if (!ParsePort(v, o.remoteInspectorPort)) {
        error = "--remote-inspector: '" + v + "' is not a port number (1..65535)";
        return false;
      }
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      error = "unknown option " + a;
      return false;
    } else if (o.page.empty()) {
      o.page = a;
    } else {
      error = "more than one page given: '" + o.page + "' and '" + a + "'";
      return false;
    }
  }
  if (o.headless && o.noXvfb) {
    error = "--headless and --no-xvfb exclude each other";
    return false;
  }
  if (!o.help && o.page.empty()) {
    error = "no page given";
    return false;
  }
  out = o;
  return true;
}
