#include "Options.h"

#include "OriginRule.h"

#include <cctype>
#include <cstdlib>
#include <functional>

namespace {

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// N=TEXT with N one of 4000..4003.
bool ParseAppText(const std::string& text, int& n, std::string& value) {
  const auto eq = text.find('=');
  if (eq == std::string::npos) return false;
  const std::string num = text.substr(0, eq);
  if (!AllDigits(num) || num.size() != 4) return false;
  n = std::atoi(num.c_str());
  if (n < 4000 || n > 4003) return false;
  value = text.substr(eq + 1);
  return true;
}

}  // namespace

const char* UsageText() {
  return
      "usage: tvwebkit [options] PAGE\n"
      "Opens PAGE (a file or a URL) in WebKitGTK with the TV plug-in module hosted\n"
      "by the nptv web-process extension, prints the page's console messages to\n"
      "stdout and exits with the page's verdict.\n"
      "\n"
      "options:\n"
      "  --module FILE         the plug-in module (default: $NPTV_MODULE, else the\n"
      "                        libnptv.so of this build)\n"
      "  --plugin-dir DIR      the same as --module DIR/libnptv.so\n"
      "  --extension-dir DIR   folder of the web-process extension (default:\n"
      "                        $NPTV_WEBKIT_EXTENSION_DIR, else the one of this build)\n"
      "  --origin ORIGIN       let pages of ORIGIN (http(s)://host[:port]) use the TV\n"
      "                        besides file: pages (repeatable)\n"
      "  --app-text N=TEXT     answer the browser variable N (4000..4003) with TEXT\n"
      "  --screenshot FILE     write a PNG of the page when it gives its verdict\n"
      "                        (and on SIGUSR1/SIGUSR2)\n"
      "  --timeout SECONDS     fail when the page gives no verdict in time\n"
      "  --script FILE         run FILE in the page once it has loaded (repeatable)\n"
      "  --size WxH            viewport size (default 1280x720)\n"
      "  --headless            start a private Xvfb even when a display is set\n"
      "  --no-xvfb             never start Xvfb\n"
      "  --stay                keep the window open after the verdict\n"
      "  --inspect             open WebKit's Web Inspector beside the page\n"
      "  --automation          let WebKitWebDriver drive the browser (it starts\n"
      "                        tvwebkit with this option; PAGE is then optional)\n"
      "  --no-sandbox          run the web process outside WebKit's sandbox; by\n"
      "                        default it runs inside (bubblewrap), with the module's,\n"
      "                        the extension's and the framework's folders (socket,\n"
      "                        log, configuration)\n"
      "                        bound into it\n"
      "  --sandbox-path DIR    bind DIR into the sandbox too (repeatable; absolute)\n"
      "  -h, --help            this text\n"
      "\n"
      "The page sees a window object `tvbrowser`, as in tvbrowser:\n"
      "  tvbrowser.pass(msg) / fail(msg)   verdict: passed (exit 0) / failed (exit 1)\n"
      "  tvbrowser.log(msg)    print a line to stdout\n"
      "  tvbrowser.sim(json)   one JSON request line to the simulated TV's control\n"
      "                        socket ($QUV_SIM_SOCKET); returns its reply line\n"
      "  tvbrowser.headless    true when no one can see the window\n"
      "  tvbrowser.elementCallable  false: an element cannot be called as a function\n"
      "\n"
      "exit status: 0 passed, 1 failed, 2 bad command line or page not loaded,\n"
      "3 timeout, 4 display could not be started, 5 the web process ended,\n"
      "130/143 interrupted/terminated (SIGUSR1: screenshot, then exit 0;\n"
      "SIGUSR2: screenshot, go on)\n";
}

bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error) {
  Options o;
  const auto own = [&o](const std::string& a, const std::function<bool(std::string&)>& value,
                        std::string& error) {
    using hostkit::Own;
    std::string v;
    if (a == "--module") {
      return value(o.module) ? Own::kTaken : Own::kBad;
    } else if (a == "--plugin-dir") {
      if (!value(v)) return Own::kBad;
      o.module = v + (v.back() == '/' ? "" : "/") + "libnptv.so";
    } else if (a == "--extension-dir") {
      return value(o.extensionDir) ? Own::kTaken : Own::kBad;
    } else if (a == "--origin") {
      if (!value(v)) return Own::kBad;
      std::string origin;
      if (!nptvorigin::Listed(v, origin)) {
        error = "--origin: '" + v + "' is not an origin (http or https://host[:port])";
        return Own::kBad;
      }
      o.origins.push_back(origin);
    } else if (a == "--app-text") {
      if (!value(v)) return Own::kBad;
      int n = 0;
      std::string text;
      if (!ParseAppText(v, n, text)) {
        error = "--app-text: '" + v + "' is not N=TEXT with N one of 4000..4003";
        return Own::kBad;
      }
      o.appTexts[n] = text;
    } else if (a == "--automation") {
      o.automation = true;
    } else if (a == "--sandbox") {
      o.sandbox = true;
    } else if (a == "--no-sandbox") {
      o.sandbox = false;
    } else if (a == "--sandbox-path") {
      if (!value(v)) return Own::kBad;
      if (v[0] != '/') {
        error = "--sandbox-path: '" + v + "' is not an absolute path";
        return Own::kBad;
      }
      o.sandboxPaths.push_back(v);
    } else {
      return Own::kNotMine;
    }
    return Own::kTaken;
  };
  if (!hostkit::ParsePageOptions(args, o, own, error)) return false;
  if (!o.sandboxPaths.empty() && !o.sandbox) {
    error = "--sandbox-path and --no-sandbox exclude each other";
    return false;
  }
  if (!o.help && !o.automation && o.page.empty()) {
    error = "no page given";
    return false;
  }
  out = o;
  return true;
}
