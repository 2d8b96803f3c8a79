// The bridge's WebSocket, on a port of its own: each page's events, and for
// cross-origin isolated pages a faster synchronous channel. A page holds one
// socket (its dedicated worker's when isolated, else one on its main thread)
// that carries its events as the event stream would; the page's instances
// are destroyed when it closes. Each text message of the page is one
// request of that page (as on HTTP), each answer one text message. A socket
// belongs to the page named when it opened and reaches that page only.
//
// Messages:  {"id": N, "action": "invoke", "body": {...}}
// Answers:   {"id": N, "status": 200, "reply": {...}}
//            {"id": N, "status": 4xx|5xx, "reason": "one line"}
// Events:    {"kind": "work" | "call" | "eval", ...}  (no "id")
#ifndef TVBRIDGE_SOCKET_H
#define TVBRIDGE_SOCKET_H

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <utility>

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

// What a peer may hold on the socket port. An opened socket needs a page,
// one each, and pages are bounded (kMaxPages); a connection that has not
// finished its opening handshake within kHandshakeLimit is dropped, and of
// those at most kPendingPerPeer come from one address, kPending in all.
constexpr std::size_t kMaxMessage = 1 << 20;       // bytes of one message
constexpr std::size_t kMaxUnsent = 4 << 20;        // bytes of events a page has not read
constexpr long kHandshakeLimit = 3000;             // ms
constexpr std::size_t kPendingPerPeer = 8, kPending = 32;

// The connections still in their opening handshake, oldest first.
class Pending {
 public:
  // Admits connection `id` from address `peer`; answers the one to drop to
  // stay within the bounds (the oldest of that address, else the oldest of
  // all), 0 when none.
  std::uintptr_t Admit(std::uintptr_t id, const std::string& peer);
  void Done(std::uintptr_t id);  // opened, refused or gone
  std::size_t size() const { return m_order.size(); }

 private:
  std::list<std::pair<std::uintptr_t, std::string>> m_order;
};

// The socket server: its own port on 127.0.0.1, one thread.
class SocketServer {
 public:
  // `handle` runs one request (on the host thread, bounded in time);
  // `channel(page)` is the page's event channel (null for no such page, any
  // thread); `gone(page)` is told when the page's socket closed.
  SocketServer(Handler handle, std::function<std::shared_ptr<Channel>(const std::string&)> channel,
               std::function<void(const std::string&)> gone);
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
