#include "Files.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>

namespace tvbridge {

std::optional<std::string> Resolve(const std::string& root, const std::string& requestPath) {
  if (requestPath.empty() || requestPath[0] != '/') return std::nullopt;
  if (requestPath.find('\0') != std::string::npos || requestPath.find('\\') != std::string::npos)
    return std::nullopt;
  std::size_t start = 1;
  while (start <= requestPath.size()) {
    std::size_t end = requestPath.find('/', start);
    if (end == std::string::npos) end = requestPath.size();
    std::string segment = requestPath.substr(start, end - start);
    if (segment == ".." || segment == ".") return std::nullopt;
    start = end + 1;
  }
  char real[PATH_MAX];
  if (!realpath((root + requestPath).c_str(), real)) return std::nullopt;
  std::string path = real;
  if (path != root && path.compare(0, root.size() + 1, root + "/") != 0) return std::nullopt;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  if (S_ISDIR(st.st_mode)) return Resolve(root, path.substr(root.size()) + "/index.html");
  if (!S_ISREG(st.st_mode)) return std::nullopt;
  return path;
}

std::string ContentType(const std::string& path) {
  static const struct {
    const char* ext;
    const char* type;
  } kTypes[] = {
      {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
      {".json", "application/json"}, {".png", "image/png"}, {".svg", "image/svg+xml"},
      {".jpg", "image/jpeg"}, {".ico", "image/x-icon"}, {".txt", "text/plain; charset=utf-8"},
      {".md", "text/plain; charset=utf-8"},
  };
  for (const auto& t : kTypes) {
    std::string ext = t.ext;
    if (path.size() >= ext.size() && path.compare(path.size() - ext.size(), ext.size(), ext) == 0)
      return t.type;
  }
  return "application/octet-stream";
}

}  // namespace tvbridge
