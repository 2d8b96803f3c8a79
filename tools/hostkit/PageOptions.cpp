#include "PageOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace hostkit {

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

bool ParseSeconds(const std::string& text, double& out) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (errno || end == text.c_str() || *end != '\0' || !std::isfinite(v) || v <= 0) return false;
  out = v;
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

bool ParsePageOptions(const std::vector<std::string>& args, PageOptions& o, const OwnOptions& own,
                      std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    // The value of option `a`, which must not be empty.
    const std::function<bool(std::string&)> value = [&](std::string& into) {
      if (i + 1 >= args.size()) {
        error = "option " + a + " needs a value";
        return false;
      }
      into = args[++i];
      if (into.empty()) {
        error = a + ": empty value";
        return false;
      }
      return true;
    };
    std::string v;
    if (a == "-h" || a == "--help") {
      o.help = true;
    } else if (a == "--screenshot") {
      if (!value(o.screenshot)) return false;
    } else if (a == "--script") {
      if (!value(v)) return false;
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
    } else if (a == "--inspect") {
      o.inspect = true;
    } else if (const Own taken = own(a, value, error); taken == Own::kBad) {
      return false;
    } else if (taken == Own::kTaken) {
      // the program's own option
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
  return true;
}

}  // namespace hostkit
