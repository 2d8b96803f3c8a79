// The tools' HTTP server (tvbridge, tvcollect): HTTP/1.1, one thread a
// connection, written for hostile peers. A request is handed to the handler only once it
// has been read whole (head and body); every refusal, the server's own
// (malformed, too large, too slow) or the handler's (any status of 400 or
// more), closes the connection, so that nothing a peer sent after a refused
// request's head is ever read as a request of its own.
//
// Refused by the server itself, each with its status and the connection closed:
//   400  a malformed request line or header, a Content-Length that is not
//        one decimal number (or given twice)
//   405  a method not in Limits::methods (GET and POST)
//   408  a request not read whole within Limits::request of its first byte
//   413  a body longer than Limits::body
//   414/431  a head longer than Limits::head, or more than Limits::headers headers
//   501  a body in any Transfer-Encoding (only Content-Length is read)
// A connection idle for Limits::idle between requests is closed; at most
// Limits::connections connections are served at once, and of the connections
// of one peer address that have not yet sent a whole request at most
// Limits::unfinished are kept (the oldest is closed for a new one).
#ifndef NPTV_HOSTKIT_HTTP_H
#define NPTV_HOSTKIT_HTTP_H

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace hostkit {
namespace http {

struct Limits {
  std::size_t head = 16 * 1024;  // request line and headers, in bytes
  std::size_t headers = 64;
  std::size_t body = 1 << 20;
  std::chrono::milliseconds idle{5000};
  std::chrono::milliseconds request{10000};
  std::size_t connections = 512;
  std::size_t unfinished = 128;
  std::vector<std::string> methods{"GET", "POST"};
  std::string name = "tvbridge";  // begins the server's own refusals ("NAME: why")
  // Sent with every answer, refusals included, after the server's own.
  std::vector<std::pair<std::string, std::string>> always;
};

struct Request {
  std::string method;
  std::string version;  // HTTP/1.1 or HTTP/1.0
  std::string path;   // percent-decoded, without the query
  std::string query;  // as sent, after '?'
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  std::string peer;   // the peer's address
  // The header's value, "" when absent.
  std::string Header(const std::string& lowerName) const;
  bool Has(const std::string& lowerName) const { return headers.count(lowerName) != 0; }
  // The query parameter's value as sent (not decoded), "" when absent.
  std::string Param(const std::string& name) const;
};

// What the handler answers. With `stream` set the answer is a stream: the
// head is sent at once and `stream(write)` is called until it answers false
// (or a write failed) and the connection closes. `ended()` runs once the
// answer (stream or not, refusal or not) is sent.
struct Response {
  int status = 200;
  std::string type = "text/plain; charset=utf-8";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  std::function<bool(const std::function<bool(const std::string&)>& write)> stream;
  std::function<void()> ended;
  void Set(int s, std::string t, std::string b) {
    status = s;
    type = std::move(t);
    body = std::move(b);
  }
};

using Handler = std::function<void(const Request&, Response&)>;

// Headers sent with every answer, before Limits::always and the response's
// own: X-Frame-Options: DENY, frame-ancestors 'none', nosniff, no-store.
class Server {
 public:
  Server(Handler handler, Limits limits = Limits());
  ~Server();
  // Binds address:port (an IPv4 address; port 0: any free port); answers
  // the port, 0 on failure.
  int Bind(int port, const std::string& address = "127.0.0.1");
  // Accepts connections until Stop; each is served on a thread of its own.
  void Run();
  // Stops accepting, closes every connection, waits (2 s at most) for their threads.
  void Stop();

 private:
  struct Impl;
  std::shared_ptr<Impl> m_impl;
};

}  // namespace http
}  // namespace hostkit

#endif
