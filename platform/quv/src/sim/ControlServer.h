// The control socket: JSON lines over a UNIX domain socket.
#ifndef QUV_SRC_SIM_CONTROLSERVER_H
#define QUV_SRC_SIM_CONTROLSERVER_H

#include <string>

#include "../Internal.h"

namespace quvimpl {

class ControlServer {
 public:
  ControlServer(Library& lib, const std::string& path);
  ~ControlServer();
  bool Listening() const { return false; }
};

}  // namespace quvimpl

#endif
