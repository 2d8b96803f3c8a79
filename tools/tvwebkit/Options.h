// Command line of tvwebkit.
#ifndef TVWEBKIT_OPTIONS_H
#define TVWEBKIT_OPTIONS_H

#include <map>
#include <string>
#include <vector>

#include "PageOptions.h"

// The page is optional with --automation.
struct Options : PageOptions {
  std::string module;         // path of libnptv.so; empty: $NPTV_MODULE or the build's module
  std::string extensionDir;   // folder of the web-process extension; empty: the build's
  std::vector<std::string> origins;     // allowed besides file:, as scheme://host[:port]
  std::map<int, std::string> appTexts;  // browser variables 4000-4003
  bool automation = false;    // let a WebDriver (WebKitWebDriver) drive the browser
  bool sandbox = true;        // run the web process in WebKit's sandbox (bubblewrap)
  std::vector<std::string> sandboxPaths;  // more folders bound into the sandbox
};

// Parses argv[1..]; on a bad command line returns false and sets `error`.
bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error);

const char* UsageText();

#endif
