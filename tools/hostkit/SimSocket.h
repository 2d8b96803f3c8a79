// One persistent connection to the simulated TV's control socket: one JSON
// request line out, one JSON reply line back.
#ifndef NPTV_HOSTKIT_SIMSOCKET_H
#define NPTV_HOSTKIT_SIMSOCKET_H

#include <string>

class SimSocket {
 public:
  explicit SimSocket(std::string path) : m_path(std::move(path)) {}
  ~SimSocket();
  SimSocket(const SimSocket&) = delete;
  SimSocket& operator=(const SimSocket&) = delete;

  // Sends `line` (a line break is added) and returns the reply line without
  // its line break. On any failure returns false with a message in `error`
  // and drops the connection (the next request connects again).
  // The connection is refused unless the socket's server runs as this
  // process's user (SO_PEERCRED).
  bool Request(const std::string& line, std::string& reply, std::string& error);
  // Seconds a reply (and a send) may take; 0 (the default) waits for ever.
  void SetTimeout(long seconds) { m_timeout = seconds; }

 private:
  bool Connect(std::string& error);
  void Drop();

  std::string m_path;
  int m_fd = -1;
  long m_timeout = 0;
  std::string m_pending;  // bytes read past the last reply line
};

#endif
