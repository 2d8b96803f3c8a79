// The extension's configuration: from the user data the UI program passes
// (a{sv}: "module" s, "origins" as, "app-texts" a{is}), else from the
// environment (NPTV_MODULE, NPTV_ORIGINS, NPTV_APP_TEXT_4000..4003), else
// the defaults. And which pages get the TV: file: pages and the listed
// origins (OriginRule.h).
#ifndef NPTV_WEBKIT_CONFIG_H
#define NPTV_WEBKIT_CONFIG_H

#include <glib.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace nptvwebkit {

struct Config {
  std::string module;
  std::set<std::string> origins;  // canonical (OriginRule.h)
  std::map<int, std::string> appTexts;
  std::vector<std::string> problems;  // what was ignored, and why
};

// `data` may be null or of another type (then only the environment counts).
Config ReadConfig(GVariant* data);

// Whether a page at `uri` may have the TV object.
bool Allowed(const Config& config, const std::string& uri);

}  // namespace nptvwebkit

#endif
