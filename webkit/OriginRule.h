// The one origin rule of the extension and the host programs (tvwebkit,
// tvbrowser): which pages get the TV object, which texts are origins one may
// list, and which frames the host programs' page hook serves. Origins are
// written as WebKit writes a page's origin, so that a listed origin and a
// page's compare as texts.
#ifndef NPTV_WEBKIT_ORIGINRULE_H
#define NPTV_WEBKIT_ORIGINRULE_H

#include <string>

namespace nptvorigin {

// The origin of a page's absolute URL: "http://host[:port]" or "https://...",
// the scheme and host lower-cased, an internationalised host name as
// punycode, IPv4 and IPv6 literals in their canonical form ("127.1" is
// "127.0.0.1", "[0:0:0:0:0:0:0:1]" is "[::1]"), the scheme's default port
// dropped; "file://" for every file URL; "" for anything else (other schemes,
// user information, port 0, an empty port, a malformed URL).
std::string OfUrl(const std::string& url);

// A text given as an origin to list (the extension's configuration, tvwebkit's
// --origin): exactly http(s)://host[:port], an optional "/" after it. Sets
// `origin` to its canonical form; false (origin untouched) for anything else,
// file: included: file pages get the TV object without being listed.
bool Listed(const std::string& text, std::string& origin);

// Whether a frame at `url` is of the origin of the page at `askedUrl`.
inline bool Same(const std::string& askedUrl, const std::string& url) {
  const std::string a = OfUrl(askedUrl);
  return !a.empty() && a == OfUrl(url);
}

}  // namespace nptvorigin

#endif
