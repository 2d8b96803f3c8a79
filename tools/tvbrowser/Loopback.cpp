#include "Loopback.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

std::atomic<int> gPort{0};

using BindFn = int (*)(int, const struct sockaddr*, socklen_t);

BindFn RealBind() {
  static BindFn real = reinterpret_cast<BindFn>(dlsym(RTLD_NEXT, "bind"));
  return real;
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
        return real(fd, reinterpret_cast<const sockaddr*>(&in), sizeof in);
      }
    } else if (address->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
      sockaddr_in6 in6;
      std::memcpy(&in6, address, sizeof in6);
      if (IN6_IS_ADDR_UNSPECIFIED(&in6.sin6_addr) && ntohs(in6.sin6_port) == port) {
        inet_pton(AF_INET6, "::ffff:127.0.0.1", &in6.sin6_addr);
        return real(fd, reinterpret_cast<const sockaddr*>(&in6), sizeof in6);
      }
    }
  }
  return real(fd, address, length);
}
