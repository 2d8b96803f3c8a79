#include "PageOrigin.h"

namespace hostkit {

std::string PageOrigin(const std::string& url) {
  const std::size_t colon = url.find("://");
  if (colon == std::string::npos || colon == 0) return "";
  std::string scheme = url.substr(0, colon);
  for (char& c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (scheme == "file") return "file://";
  if (scheme != "http" && scheme != "https") return "";
  const std::size_t start = colon + 3;
  const std::size_t end = url.find_first_of("/?#", start);
  std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
  if (authority.empty() || authority.find('@') != std::string::npos) return "";
  for (char& c : authority) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  const std::size_t bracket = authority.rfind(']');
  const std::size_t portAt = authority.rfind(':');
  if (portAt != std::string::npos && (bracket == std::string::npos || portAt > bracket)) {
    const std::string port = authority.substr(portAt + 1);
    if ((scheme == "http" && port == "80") || (scheme == "https" && port == "443") || port.empty())
      authority.erase(portAt);
  }
  return scheme + "://" + authority;
}

}  // namespace hostkit
