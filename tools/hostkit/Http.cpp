#include "Http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

namespace hostkit {
namespace http {

using Clock = std::chrono::steady_clock;

std::string Request::Header(const std::string& lowerName) const {
  auto it = headers.find(lowerName);
  return it == headers.end() ? std::string() : it->second;
}

std::string Request::Param(const std::string& name) const {
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    std::string pair = query.substr(start, end - start);
    std::size_t eq = pair.find('=');
    if (pair.substr(0, eq) == name) return eq == std::string::npos ? std::string() : pair.substr(eq + 1);
    start = end + 1;
  }
  return std::string();
}

namespace {

// A request refused before the handler saw it.
struct Bad {
  int status;
  std::string reason;
};

const char* StatusText(int status) {
  switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 413: return "Payload Too Large";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Status";
  }
}

bool SendAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // gone, or not reading (the send time-out)
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads what is there into `in`, waiting until `deadline`: 1 read, 0 end of
// stream or error, -1 time-out.
int ReadMore(int fd, std::string& in, Clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return -1;
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return 0;
    if (r == 0) return -1;
    char buf[16384];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;
    in.append(buf, static_cast<std::size_t>(n));
    return 1;
  }
}

bool IsToken(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string("!#$%&'*+-.^_`|~").find(c) != std::string::npos;
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The head (request line and headers, without the blank line) into `req`;
// throws Bad.
void ParseHead(const std::string& head, const Limits& limits, Request& req) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = head.find("\r\n", start);
    lines.push_back(head.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  for (const std::string& l : lines)
    for (char c : l)
      if (c == '\r' || c == '\n' || c == '\0') throw Bad{400, "a stray line break or NUL in the request head"};
  const std::string& line = lines[0];
  std::size_t sp1 = line.find(' '), sp2 = line.rfind(' ');
  if (sp1 == std::string::npos || sp2 == sp1) throw Bad{400, "a malformed request line"};
  req.method = line.substr(0, sp1);
  const std::string target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  req.version = line.substr(sp2 + 1);
  if (req.version != "HTTP/1.1" && req.version != "HTTP/1.0") throw Bad{400, "not HTTP/1.x"};
  if (target.empty() || target[0] != '/' || target.find(' ') != std::string::npos)
    throw Bad{400, "a malformed request target"};
  bool allowed = false;
  for (const std::string& m : limits.methods) allowed = allowed || m == req.method;
  if (!allowed) throw Bad{405, "the method " + req.method.substr(0, 20) + " is not served"};
  std::size_t q = target.find('?');
  const std::string rawPath = target.substr(0, q);
  if (q != std::string::npos) req.query = target.substr(q + 1);
  for (std::size_t i = 0; i < rawPath.size(); ++i) {
    if (rawPath[i] != '%') {
      req.path += rawPath[i];
      continue;
    }
    int hi = i + 2 < rawPath.size() ? Hex(rawPath[i + 1]) : -1, lo = hi >= 0 ? Hex(rawPath[i + 2]) : -1;
    if (lo < 0) throw Bad{400, "a malformed percent escape in the path"};
    req.path += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  if (lines.size() - 1 > limits.headers)
    throw Bad{431, "more than " + std::to_string(limits.headers) + " headers"};
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& h = lines[i];
    std::size_t colon = h.find(':');
    if (colon == 0 || colon == std::string::npos) throw Bad{400, "a malformed header line"};
    for (std::size_t k = 0; k < colon; ++k)
      if (!IsToken(h[k])) throw Bad{400, "a malformed header name"};
    std::size_t v = h.find_first_not_of(" \t", colon + 1), e = h.find_last_not_of(" \t");
    std::string value = v == std::string::npos || e < v ? std::string() : h.substr(v, e - v + 1);
    std::string name = Lower(h.substr(0, colon));
    if (req.headers.count(name)) {
      if (name == "content-length" || name == "host" || name == "origin" || name == "transfer-encoding")
        throw Bad{400, "the header " + name + " given twice"};
      req.headers[name] += ", " + value;
    } else {
      req.headers[name] = value;
    }
  }
  if (req.Has("transfer-encoding")) throw Bad{501, "request bodies are read by Content-Length only"};
}

}  // namespace

struct Server::Impl : std::enable_shared_from_this<Server::Impl> {
  Handler handler;
  Limits limits;
  int listenFd = -1;
  std::mutex mu;
  std::condition_variable cv;
  std::set<int> live;
  std::map<std::string, std::deque<int>> unfinished;
  bool stopping = false;

  void Finished(int fd, const std::string& peer) {
    std::lock_guard<std::mutex> lock(mu);
    auto it = unfinished.find(peer);
    if (it == unfinished.end()) return;
    for (auto d = it->second.begin(); d != it->second.end(); ++d)
      if (*d == fd) {
        it->second.erase(d);
        break;
      }
    if (it->second.empty()) unfinished.erase(it);
  }

  // Answers with the server's headers; false when the peer is gone.
  bool Answer(int fd, const Response& res, bool close, bool stream) {
    std::string out = "HTTP/1.1 " + std::to_string(res.status) + " " + StatusText(res.status) + "\r\n";
    out += "Content-Type: " + res.type + "\r\n";
    if (!stream) out += "Content-Length: " + std::to_string(res.body.size()) + "\r\n";
    out += close ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    out += "X-Frame-Options: DENY\r\nContent-Security-Policy: frame-ancestors 'none'\r\n"
           "X-Content-Type-Options: nosniff\r\nCache-Control: no-store\r\n";
    for (const auto& h : limits.always) out += h.first + ": " + h.second + "\r\n";
    for (const auto& h : res.headers) out += h.first + ": " + h.second + "\r\n";
    out += "\r\n";
    if (!stream) out += res.body;
    return SendAll(fd, out);
  }

  // A refusal: answered, then the connection ends (what the peer still
  // sends is read and dropped for a moment, so that the answer is not lost
  // to a reset, but never parsed).
  void Refuse(int fd, const Response& res) {
    Answer(fd, res, true, false);
    shutdown(fd, SHUT_WR);
    std::string drain;
    std::size_t total = 0;
    auto until = Clock::now() + std::chrono::milliseconds(500);
    while (total < limits.body && ReadMore(fd, drain, until) > 0) {
      total += drain.size();
      drain.clear();
    }
  }

  void Serve(int fd, const std::string& peer) {
    std::string in;
    bool first = true;
    for (;;) {
      if (in.empty() && ReadMore(fd, in, Clock::now() + limits.idle) <= 0) break;
      const auto deadline = Clock::now() + limits.request;
      Request req;
      try {
        std::size_t end;
        while ((end = in.find("\r\n\r\n")) == std::string::npos) {
          if (in.size() > limits.head) throw Bad{431, "a request head longer than " + std::to_string(limits.head) + " bytes"};
          int r = ReadMore(fd, in, deadline);
          if (r < 0) throw Bad{408, "the request was not read whole in time"};
          if (r == 0) throw Bad{0, ""};
        }
        if (end > limits.head) throw Bad{431, "a request head longer than " + std::to_string(limits.head) + " bytes"};
        ParseHead(in.substr(0, end), limits, req);
        in.erase(0, end + 4);
        std::size_t length = 0;
        if (req.Has("content-length")) {
          const std::string cl = req.Header("content-length");
          if (cl.empty() || cl.size() > 12 || cl.find_first_not_of("0123456789") != std::string::npos)
            throw Bad{400, "a malformed Content-Length"};
          length = std::stoull(cl);
          if (length > limits.body)
            throw Bad{413, "a body longer than " + std::to_string(limits.body) + " bytes"};
        }
        if (length > in.size() && Lower(req.Header("expect")) == "100-continue" &&
            !SendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n"))
          throw Bad{0, ""};
        while (in.size() < length) {
          int r = ReadMore(fd, in, deadline);
          if (r < 0) throw Bad{408, "the request was not read whole in time"};
          if (r == 0) throw Bad{0, ""};
        }
        req.body = in.substr(0, length);
        in.erase(0, length);
      } catch (const Bad& bad) {
        if (bad.status) {
          Response res;
          res.Set(bad.status, "text/plain; charset=utf-8", limits.name + ": " + bad.reason + "\n");
          Refuse(fd, res);
        }
        break;
      }
      if (first) Finished(fd, peer);
      first = false;
      req.peer = peer;
      Response res;
      try {
        handler(req, res);
      } catch (const std::exception& e) {
        res = Response();
        res.Set(500, "text/plain; charset=utf-8", limits.name + ": " + e.what() + "\n");
      }
      if (res.status >= 400) {
        Refuse(fd, res);
        if (res.ended) res.ended();
        break;
      }
      if (res.stream) {
        if (Answer(fd, res, true, true)) {
          auto write = [fd](const std::string& data) { return SendAll(fd, data); };
          while (res.stream(write)) {
          }
        }
        if (res.ended) res.ended();
        break;
      }
      const std::string conn = Lower(req.Header("connection"));
      bool close = conn == "close" || (conn != "keep-alive" && req.version == "HTTP/1.0");
      const bool sent = Answer(fd, res, close, false);
      if (res.ended) res.ended();
      if (!sent || close) break;
    }
    Finished(fd, peer);
    std::lock_guard<std::mutex> lock(mu);
    live.erase(fd);
    close(fd);
    cv.notify_all();
  }
};

Server::Server(Handler handler, Limits limits) : m_impl(std::make_shared<Impl>()) {
  m_impl->handler = std::move(handler);
  m_impl->limits = limits;
}

Server::~Server() {
  Stop();
  if (m_impl->listenFd >= 0) close(m_impl->listenFd);
}

int Server::Bind(int port, const std::string& address) {
  in_addr ip{};
  if (inet_pton(AF_INET, address.c_str(), &ip) != 1) return 0;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr = ip;
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 128) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd);
    return 0;
  }
  m_impl->listenFd = fd;
  return ntohs(addr.sin_port);
}

void Server::Run() {
  std::shared_ptr<Impl> d = m_impl;
  for (;;) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd = accept4(d->listenFd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE) {
        if (errno == EMFILE || errno == ENFILE) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::lock_guard<std::mutex> lock(d->mu);
        if (!d->stopping) continue;
      }
      return;
    }
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    const std::string address = text;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval sendLimit{10, 0};  // a peer that does not read its answers is dropped
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
    {
      std::lock_guard<std::mutex> lock(d->mu);
      if (d->stopping || d->live.size() >= d->limits.connections) {
        close(fd);
        continue;
      }
      d->live.insert(fd);
      std::deque<int>& waiting = d->unfinished[address];
      waiting.push_back(fd);
      if (waiting.size() > d->limits.unfinished) {
        shutdown(waiting.front(), SHUT_RDWR);  // its thread sees the end and closes it
        waiting.pop_front();
      }
    }
    std::thread([d, fd, address] { d->Serve(fd, address); }).detach();
  }
}

void Server::Stop() {
  Impl& d = *m_impl;
  std::unique_lock<std::mutex> lock(d.mu);
  if (d.stopping) return;
  d.stopping = true;
  if (d.listenFd >= 0) shutdown(d.listenFd, SHUT_RDWR);
  for (int fd : d.live) shutdown(fd, SHUT_RDWR);
  d.cv.wait_for(lock, std::chrono::seconds(2), [&d] { return d.live.empty(); });
}

}  // namespace http
}  // namespace hostkit
