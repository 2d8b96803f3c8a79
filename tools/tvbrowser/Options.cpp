#include "Options.h"

#include <functional>


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
      "\n"
      "exit status: 0 passed, 1 failed, 2 bad command line or page not loaded,\n"
      "3 timeout, 4 display could not be started, 130/143 interrupted/terminated\n"
      "(SIGUSR1: screenshot, then exit 0; SIGUSR2: screenshot, go on)\n";
}

bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error) {
  Options o;
  const auto own = [&o](const std::string& a, const std::function<bool(std::string&)>& value,
                        std::string& error) {
    using hostkit::Own;
    std::string v;
    if (a == "--plugin-dir") {
      return value(o.pluginDir) ? Own::kTaken : Own::kBad;
    } else if (a == "--locations") {
      o.locations = true;
    } else if (a == "--remote-inspector") {
      if (!value(v)) return Own::kBad;
      if (!hostkit::ParsePort(v, o.remoteInspectorPort)) {
        error = "--remote-inspector: '" + v + "' is not a port number (1..65535)";
        return Own::kBad;
      }
    } else {
      return Own::kNotMine;
    }
    return Own::kTaken;
  };
  if (!hostkit::ParsePageOptions(args, o, own, error)) return false;
  if (!o.help && o.page.empty()) {
    error = "no page given";
    return false;
  }
  out = o;
  return true;
}
