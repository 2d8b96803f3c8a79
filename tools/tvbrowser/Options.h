// Command line of tvbrowser.
#ifndef TVBROWSER_OPTIONS_H
#define TVBROWSER_OPTIONS_H

#include <string>
#include <vector>

struct Options {
  std::string page;           // file path or URL
  std::string screenshot;     // PNG written when the page gives its verdict (or on SIGUSR1)
  std::vector<std::string> scripts;  // evaluated in the page, in order, once it has loaded
  std::string pluginDir;      // folder holding libnptv.so; empty: QTWEBKIT_PLUGIN_PATH or the build's folder
  double timeoutSeconds = 0;  // 0: no timeout
  int width = 1280, height = 720;
  bool headless = false;      // never open a window on the user's display: start Xvfb
  bool noXvfb = false;        // never start Xvfb (for hosts that bring their own display)
  bool stay = false;          // keep running after the verdict (demo with a window)
  bool locations = false;     // append source:line to console messages
  bool inspect = false;       // Web Inspector beside the page
  int remoteInspectorPort = 0;  // >0: WebKit's inspector server on 127.0.0.1 at this port
  bool help = false;
};

// Parses argv[1..]; on a bad command line returns false and sets `error`.
bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error);

const char* UsageText();

#endif
