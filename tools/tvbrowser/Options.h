// Command line of tvbrowser.
#ifndef TVBROWSER_OPTIONS_H
#define TVBROWSER_OPTIONS_H

#include <string>
#include <vector>

#include "PageOptions.h"

struct Options : PageOptions {
  std::string pluginDir;      // folder holding libnptv.so; empty: QTWEBKIT_PLUGIN_PATH or the build's folder
  bool locations = false;     // append source:line to console messages
  int remoteInspectorPort = 0;  // >0: WebKit's inspector server on 127.0.0.1 at this port
};

// Parses argv[1..]; on a bad command line returns false and sets `error`.
bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error);

const char* UsageText();

#endif
