#include "ControlServer.h"

namespace quvimpl {
ControlServer::ControlServer(Library&, const std::string&) {}
ControlServer::~ControlServer() = default;
}  // namespace quvimpl
