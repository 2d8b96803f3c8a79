#include "SimSocket.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

SimSocket::~SimSocket() { Drop(); }

void SimSocket::Drop() {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
  m_pending.clear();
}

bool SimSocket::Connect(std::string& error) {
  if (m_path.empty()) {
    error = "QUV_SIM_SOCKET is not set";
    return false;
  }
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (m_path.size() >= sizeof addr.sun_path) {
    error = "socket path too long: " + m_path;
    return false;
  }
  std::memcpy(addr.sun_path, m_path.c_str(), m_path.size() + 1);
  m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_fd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  if (connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    error = "cannot connect to " + m_path + ": " + std::strerror(errno);
    Drop();
    return false;
  }
  // Only a simulated TV of our own user: another user listening at the path
  // first would otherwise get every request (and answer them).
  ucred peer{};
  socklen_t len = sizeof peer;
  if (getsockopt(m_fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 || peer.uid != geteuid()) {
    error = "the control socket " + m_path + " is served by uid " + std::to_string(peer.uid) +
            ", not by this user (uid " + std::to_string(geteuid()) + "): refusing to use it";
    Drop();
    return false;
  }
  if (m_timeout > 0) {
    timeval tv{m_timeout, 0};
    setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  }
  return true;
}

bool SimSocket::Request(const std::string& line, std::string& reply, std::string& error) {
  if (line.find('\n') != std::string::npos) {
    error = "a request is one line: it must not hold a line break";
    return false;
  }
  if (m_fd < 0 && !Connect(error)) return false;
  const std::string out = line + "\n";
  size_t sent = 0;
  while (sent < out.size()) {
    const ssize_t n = send(m_fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = std::string("send: ") + std::strerror(errno);
      Drop();
      return false;
    }
    sent += static_cast<size_t>(n);
  }
  for (;;) {
    const auto nl = m_pending.find('\n');
    if (nl != std::string::npos) {
      reply = m_pending.substr(0, nl);
      m_pending.erase(0, nl + 1);
      return true;
    }
    char buf[4096];
    const ssize_t n = recv(m_fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n == 0 ? "the simulated TV closed the control connection"
              : errno == EAGAIN ? "no reply within " + std::to_string(m_timeout) + " s"
                                : std::string("recv: ") + std::strerror(errno);
      Drop();
      return false;
    }
    m_pending.append(buf, static_cast<size_t>(n));
  }
}
