#include "OriginRule.h"

#include <arpa/inet.h>
#include <glib.h>

namespace nptvorigin {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = g_ascii_tolower(c);
  return s;
}

// Whether the host's last label is a number (decimal or 0x hex): WebKit then
// reads the whole host as an IPv4 address, in any of its short forms.
bool NumericLast(const std::string& host) {
  std::string last = host.substr(host.rfind('.') == std::string::npos ? 0 : host.rfind('.') + 1);
  if (last.empty()) return false;
  std::size_t i = (last.size() > 2 && last[0] == '0' && (last[1] == 'x' || last[1] == 'X')) ? 2 : 0;
  const bool hex = i == 2;
  for (; i < last.size(); ++i)
    if (!(hex ? g_ascii_isxdigit(last[i]) : g_ascii_isdigit(last[i]))) return false;
  return true;
}

// The host as WebKit writes it, "" when it is no valid host.
std::string CanonicalHost(const std::string& host) {
  char text[INET6_ADDRSTRLEN];
  if (host.find(':') != std::string::npos) {  // GUri gives IPv6 without brackets
    in6_addr a6;
    if (inet_pton(AF_INET6, host.c_str(), &a6) != 1 || !inet_ntop(AF_INET6, &a6, text, sizeof text)) return "";
    return "[" + std::string(text) + "]";
  }
  if (NumericLast(host)) {
    in_addr a4;
    if (!inet_aton(host.c_str(), &a4) || !inet_ntop(AF_INET, &a4, text, sizeof text)) return "";
    return text;
  }
  char* ascii = g_hostname_to_ascii(host.c_str());
  if (!ascii) return "";
  std::string out = Lower(ascii);
  g_free(ascii);
  return out;
}

// The authority of "scheme://authority/...": what the text holds between.
std::string RawAuthority(const std::string& url) {
  const std::size_t start = url.find("://");
  if (start == std::string::npos) return "";
  const std::size_t end = url.find_first_of("/?#", start + 3);
  return url.substr(start + 3, end == std::string::npos ? std::string::npos : end - start - 3);
}

}  // namespace

std::string OfUrl(const std::string& url) {
  GUri* u = g_uri_parse(url.c_str(), G_URI_FLAGS_ENCODED, nullptr);
  if (!u) return "";
  std::string origin;
  const std::string scheme = Lower(g_uri_get_scheme(u));
  const char* host = g_uri_get_host(u);
  const std::string authority = RawAuthority(url);
  const bool emptyPort = !authority.empty() && authority.back() == ':';
  if (scheme == "file") {
    origin = "file://";
  } else if ((scheme == "http" || scheme == "https") && host && *host && !g_uri_get_userinfo(u) &&
             !emptyPort && g_uri_get_port(u) != 0) {
    gchar* decoded = g_uri_unescape_string(host, nullptr);
    const std::string canonical = decoded ? CanonicalHost(decoded) : "";
    g_free(decoded);
    const int port = g_uri_get_port(u);
    if (!canonical.empty())
      origin = scheme + "://" + canonical +
               (port > 0 && port != (scheme == "http" ? 80 : 443) ? ":" + std::to_string(port) : "");
  }
  g_uri_unref(u);
  return origin;
}

bool Listed(const std::string& text, std::string& origin) {
  const std::string o = OfUrl(text);
  if (o.empty() || o == "file://") return false;
  GUri* u = g_uri_parse(text.c_str(), G_URI_FLAGS_ENCODED, nullptr);
  const char* path = g_uri_get_path(u);
  const bool exact = (!path || !*path || std::string(path) == "/") && !g_uri_get_query(u) &&
                     !g_uri_get_fragment(u);
  g_uri_unref(u);
  if (!exact) return false;
  origin = o;
  return true;
}

}  // namespace nptvorigin
