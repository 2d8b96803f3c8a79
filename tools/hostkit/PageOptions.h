// The command line the host programs (tvbrowser, tvwebkit) share: the page,
// its screenshot, scripts and timeout, the viewport, the display, and one
// parser loop into which each program plugs its own options.
#ifndef NPTV_HOSTKIT_PAGEOPTIONS_H
#define NPTV_HOSTKIT_PAGEOPTIONS_H

#include <functional>
#include <string>
#include <vector>

struct PageOptions {
  std::string page;           // file path or URL
  std::string screenshot;     // PNG written when the page gives its verdict (or on SIGUSR1/2)
  std::vector<std::string> scripts;  // evaluated in the page, in order, once it has loaded
  double timeoutSeconds = 0;  // 0: no timeout
  int width = 1280, height = 720;
  bool headless = false;      // never open a window on the user's display: start Xvfb
  bool noXvfb = false;        // never start Xvfb (for hosts that bring their own display)
  bool stay = false;          // keep running after the verdict
  bool inspect = false;       // the engine's Web Inspector beside the page
  bool help = false;
};

namespace hostkit {

// "WxH", 16..8192 each.
bool ParseSize(const std::string& text, int& w, int& h);
// A positive, finite number of seconds.
bool ParseSeconds(const std::string& text, double& out);
// 1..65535.
bool ParsePort(const std::string& text, int& port);

// What a program's own option handler answers for one argument.
enum class Own { kNotMine, kTaken, kBad };
// `arg` is the argument; `value(into)` takes the option's value (false, with
// the error set, when it is missing or empty); on kBad the handler sets
// `error`.
using OwnOptions = std::function<Own(const std::string& arg,
                                     const std::function<bool(std::string&)>& value,
                                     std::string& error)>;

// Parses argv[1..] into `o`: the shared options, then the program's own; one
// page at most (whether one is needed is the program's to say). Every option
// value must be non-empty. False, with `error` set, on a bad command line.
bool ParsePageOptions(const std::vector<std::string>& args, PageOptions& o, const OwnOptions& own,
                      std::string& error);

}  // namespace hostkit

#endif
