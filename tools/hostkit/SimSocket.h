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
  bool Request(const std::string& line, std::string& reply, std::string& error);

 private:
  bool Connect(std::string& error);
  void Drop();

  std::string m_path;
  int m_fd = -1;
  std::string m_pending;  // bytes read past the last reply line
};

#endif
