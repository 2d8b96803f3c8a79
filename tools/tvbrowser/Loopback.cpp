#include "Loopback.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace {

std::atomic<int> gPort{0};

using BindFn = int (*)(int, const struct sockaddr*, socklen_t);

BindFn RealBind() {
  static BindFn real = reinterpret_cast<BindFn>(dlsym(RTLD_NEXT, "bind"));
  return real;
}

template <typename Fn>
Fn Real(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

constexpr std::size_t kHeadLimit = 8192;
constexpr int kHeadSeconds = 3;

std::atomic<int> gListener{-1};
std::atomic<int> gUnchecked{0};  // accepted connections whose head is not checked yet
std::mutex gMu;
std::map<int, time_t> gDeadlines;  // those connections, with their deadline

// The value of header `name` (lower case) in `head`, or "\x01" when absent.
std::string Header(const std::string& head, const std::string& name) {
  std::size_t at = head.find("\r\n");
  while (at != std::string::npos && at + 2 < head.size()) {
    std::size_t end = head.find("\r\n", at + 2);
    std::string line = head.substr(at + 2, end == std::string::npos ? std::string::npos : end - at - 2);
    std::size_t colon = line.find(':');
    std::string key = line.substr(0, colon == std::string::npos ? 0 : colon);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (colon != std::string::npos && key == name) {
      std::size_t v = line.find_first_not_of(" \t", colon + 1);
      std::size_t e = line.find_last_not_of(" \t");
      return v == std::string::npos ? std::string() : line.substr(v, e - v + 1);
    }
    at = end;
  }
  return "\x01";
}

bool Allowed(const std::string& head, int port) {
  const std::string p = ":" + std::to_string(port);
  const std::string host = Header(head, "host"), origin = Header(head, "origin");
  if (host != "127.0.0.1" + p && host != "localhost" + p) return false;
  return origin == "\x01" || origin == "http://127.0.0.1" + p || origin == "http://localhost" + p;
}

void Forget(int fd) {
  std::lock_guard<std::mutex> lock(gMu);
  if (gDeadlines.erase(fd)) gUnchecked.fetch_sub(1);
}

}  // namespace

void RestrictToLoopback(int port) { gPort.store(port); }

// Interposes the C library's bind for the whole process (the executable's
// symbol wins over the library's for every shared object that calls it).
extern "C" int bind(int fd, const struct sockaddr* address, socklen_t length) {
  BindFn real = RealBind();
  if (!real) {
    errno = ENOSYS;
    return -1;
  }
  const int port = gPort.load();
  if (port > 0 && address) {
    if (address->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
      sockaddr_in in;
      std::memcpy(&in, address, sizeof in);
      if (in.sin_addr.s_addr == htonl(INADDR_ANY) && ntohs(in.sin_port) == port) {
        in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        gListener.store(fd);
        return real(fd, reinterpret_cast<const sockaddr*>(&in), sizeof in);
      }
    } else if (address->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
      sockaddr_in6 in6;
      std::memcpy(&in6, address, sizeof in6);
      if (IN6_IS_ADDR_UNSPECIFIED(&in6.sin6_addr) && ntohs(in6.sin6_port) == port) {
        inet_pton(AF_INET6, "::ffff:127.0.0.1", &in6.sin6_addr);
        gListener.store(fd);
        return real(fd, reinterpret_cast<const sockaddr*>(&in6), sizeof in6);
      }
    }
  }
  return real(fd, address, length);
}

namespace {

int Accepted(int listener, int fd) {
  if (fd >= 0 && listener == gListener.load() && gPort.load() > 0) {
    std::lock_guard<std::mutex> lock(gMu);
    if (gDeadlines.emplace(fd, time(nullptr) + kHeadSeconds).second) gUnchecked.fetch_add(1);
  }
  return fd;
}

}  // namespace

extern "C" int accept(int fd, struct sockaddr* address, socklen_t* length) {
  static auto real = Real<int (*)(int, sockaddr*, socklen_t*)>("accept");
  return Accepted(fd, real(fd, address, length));
}

extern "C" int accept4(int fd, struct sockaddr* address, socklen_t* length, int flags) {
  static auto real = Real<int (*)(int, sockaddr*, socklen_t*, int)>("accept4");
  return Accepted(fd, real(fd, address, length, flags));
}

extern "C" int close(int fd) {
  static auto real = Real<int (*)(int)>("close");
  if (gUnchecked.load()) Forget(fd);
  return real(fd);
}

// A connection at the restricted port is read only once its head, looked at
// without taking it (MSG_PEEK), was allowed; until then it has nothing to
// read. The server's thread waits a little between looks, as the socket
// stays readable meanwhile.
extern "C" ssize_t read(int fd, void* buffer, size_t size) {
  static auto real = Real<ssize_t (*)(int, void*, size_t)>("read");
  if (!gUnchecked.load()) return real(fd, buffer, size);
  time_t deadline;
  {
    std::lock_guard<std::mutex> lock(gMu);
    auto it = gDeadlines.find(fd);
    if (it == gDeadlines.end()) return real(fd, buffer, size);
    deadline = it->second;
  }
  char head[kHeadLimit];
  ssize_t n = recv(fd, head, sizeof head, MSG_PEEK | MSG_DONTWAIT);
  if (n <= 0) return real(fd, buffer, size);  // closed, or an error: as it is
  const std::string text(head, static_cast<std::size_t>(n));
  const bool whole = text.find("\r\n\r\n") != std::string::npos;
  if (whole && Allowed(text, gPort.load())) {
    Forget(fd);
    return real(fd, buffer, size);
  }
  if (!whole && static_cast<std::size_t>(n) < sizeof head && time(nullptr) <= deadline) {
    poll(nullptr, 0, 20);
    errno = EAGAIN;
    return -1;
  }
  static const char kRefused[] =
      "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain\r\nContent-Length: 67\r\nConnection: close\r\n\r\n"
      "tvbrowser: the inspector answers http://127.0.0.1:PORT/ pages only\n";
  (void)!send(fd, kRefused, sizeof kRefused - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
  shutdown(fd, SHUT_RDWR);
  Forget(fd);
  return 0;  // the end of the connection
}
