// The control socket of the simulated TV: a UNIX domain socket at the path
// named by QUV_SIM_SOCKET, one JSON request per line, one JSON reply per line.
// One thread of its own serves every client (poll), so several clients, one
// after another or at once, are answered in the order their lines arrive.
#ifndef QUV_SRC_SIM_CONTROLSERVER_H
#define QUV_SRC_SIM_CONTROLSERVER_H

#include <sys/types.h>

#include <map>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "../Internal.h"

namespace quvimpl {

class ControlServer {
 public:
  ControlServer(Library& lib, const std::string& path);
  ~ControlServer();
  bool Listening() const { return listenFd_ >= 0; }

  // One request (a line of JSON) and its reply (without line break). Public
  // so that tests can drive it without a socket.
  static std::string Handle(Library& lib, const std::string& line);

 private:
  void Run();

  Library& lib_;
  std::string path_;
  int listenFd_ = -1;
  int wakePipe_[2] = {-1, -1};
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  std::thread thread_;
};

}  // namespace quvimpl

#endif
