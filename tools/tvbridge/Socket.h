// The bridge's WebSocket: a faster synchronous channel for pages that are
// cross-origin isolated. The page's dedicated worker holds one socket to the
// bridge; each text message is one request of that page (as on HTTP), each
// answer one text message. A socket belongs to the page named when it
// opened and reaches that page's instances only.
//
// Messages:  {"id": N, "action": "invoke", "body": {...}}
// Answers:   {"id": N, "status": 200, "reply": {...}}
//            {"id": N, "status": 4xx|5xx, "reason": "one line"}
#ifndef TVBRIDGE_SOCKET_H
#define TVBRIDGE_SOCKET_H

#include <functional>
#include <memory>
#include <string>

#include "Bridge.h"

namespace tvbridge {

// The opening handshake of a socket. `host` and `origin` are the request's
// headers, `resource` its path and query, `loopback` whether the peer is on
// this machine. Only the bridge's own pages (origin http://127.0.0.1:HTTP or
// http://localhost:HTTP) asking this socket port by the same name may open
// one, for a page token given as /bridge/socket?page=TOKEN. Answers the page
// token; throws Refusal otherwise.
std::string CheckOpening(const std::string& host, const std::string& origin, const std::string& resource,
                         bool loopback, int httpPort, int socketPort);

// One message of the socket of `page`: runs `handle(action, body)` with the
// body's "page" set to the socket's own, and answers the reply text. Never
// throws: bad messages (not JSON, nested deeper than 32) get an answer with
// status 400.
using Handler = std::function<Json(const std::string& action, Json body)>;
std::string AnswerMessage(const std::string& message, const std::string& page, const Handler& handle);

// The socket server: its own port on 127.0.0.1, one thread.
class SocketServer {
 public:
  // `handle` runs one request (on the host thread, bounded in time);
  // `known(page)` tells whether a page exists. A page's instances stay when
  // its socket closes: they go with its event stream, as on HTTP.
  SocketServer(Handler handle, std::function<bool(const std::string&)> known);
  ~SocketServer();
  // Listens on 127.0.0.1 (any free port) for the pages of the HTTP port;
  // answers the port, 0 when it cannot.
  int Listen(int httpPort, std::string* error);
  void Start();
  // Closes every socket and stops the thread.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace tvbridge

#endif
