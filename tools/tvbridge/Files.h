// The files tvbridge serves: only regular files inside its root folder.
#ifndef TVBRIDGE_FILES_H
#define TVBRIDGE_FILES_H

#include <optional>
#include <string>

namespace tvbridge {

// The real path of the file a request path names inside `root` (itself a
// real path), or nullopt: a ".." or "." segment, a NUL or backslash, a
// symbolic link that leads out of the root, a missing or non-regular file.
// A folder gives its index.html.
std::optional<std::string> Resolve(const std::string& root, const std::string& requestPath);

// The Content-Type for a file name.
std::string ContentType(const std::string& path);

}  // namespace tvbridge

#endif
