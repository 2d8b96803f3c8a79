// The hook the host programs give a page (tvbrowser, tvwebkit: sim, pass,
// fail) is served only to the page they were asked to open: its top frame,
// and frames of its origin. This is the comparison both make.
#ifndef NPTV_HOSTKIT_PAGEORIGIN_H
#define NPTV_HOSTKIT_PAGEORIGIN_H

#include <string>

namespace hostkit {

// "scheme://host[:port]" of an absolute URL: scheme and host lower-cased,
// the default port (http 80, https 443) dropped; "file://" for every file
// URL (pages next to each other read each other's files); "" for anything
// without a host (about:, data:, a malformed URL), which matches nothing.
std::string PageOrigin(const std::string& url);

// Whether a frame at `url` is of the asked page's origin.
inline bool SameOrigin(const std::string& askedUrl, const std::string& url) {
  const std::string a = PageOrigin(askedUrl);
  return !a.empty() && a == PageOrigin(url);
}

}  // namespace hostkit

#endif
