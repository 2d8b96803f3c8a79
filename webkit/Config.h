// The extension's configuration: from the user data the UI program passes
// (a{sv}: "module" s, "origins" as, "app-texts" a{is}), else from the
// environment (NPTV_MODULE, NPTV_ORIGINS, NPTV_APP_TEXT_4000..4003), else
// the defaults. And the origin rule: file: pages and the listed origins.
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
  std::set<std::string> origins;  // normalised, see Origin()
  std::map<int, std::string> appTexts;
  std::vector<std::string> problems;  // what was ignored, and why
};

// `data` may be null or of another type (then only the environment counts).
Config ReadConfig(GVariant* data);

// The origin of an absolute http(s) URI as scheme://host[:port], lower case,
// without the scheme's default port; "file:" for file URIs; "" for anything
// else (about:, data:, blob:, malformed).
std::string Origin(const std::string& uri);

// Whether a page at `uri` may have the TV object.
bool Allowed(const Config& config, const std::string& uri);

}  // namespace nptvwebkit

#endif
