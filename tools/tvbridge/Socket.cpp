#include "Socket.h"

#include "BoundedJson.h"

#define ASIO_STANDALONE
#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/server.hpp>

#include <algorithm>
#include <map>
#include <thread>

namespace tvbridge {

namespace {

const char kPath[] = "/bridge/socket";

// The actions a socket may ask for: the page exists already (it named it
// when opening). "ping" answers at once,
// without the host thread: the page tries whether the socket answers while
// it waits.
bool Allowed(const std::string& action) {
  static const char* const kActions[] = {"new", "destroy", "invoke", "get", "set", "pump", "ping"};
  for (const char* a : kActions)
    if (action == a) return true;
  return false;
}

std::string Answer(const Json& id, int status, const std::string& reason, const Json* reply) {
  Json out = {{"id", id}, {"status", status}};
  if (reply) out["reply"] = *reply;
  else out["reason"] = reason;
  return out.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool IsHex(const std::string& s) {
  if (s.empty() || s.size() > 64) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

}  // namespace

std::string CheckOpening(const std::string& host, const std::string& origin, const std::string& resource,
                         bool loopback, int httpPort, int socketPort) {
  if (!loopback) throw Refusal{403, "only this machine may open a socket"};
  const std::string sp = ":" + std::to_string(socketPort), hp = ":" + std::to_string(httpPort);
  if (host != "127.0.0.1" + sp && host != "localhost" + sp)
    throw Refusal{403, "wrong Host (use ws://127.0.0.1" + sp + kPath + ")"};
  if (origin != "http://127.0.0.1" + hp && origin != "http://localhost" + hp)
    throw Refusal{403, "sockets from " + (origin.empty() ? std::string("no origin") : origin) + " are refused"};
  const std::string prefix = std::string(kPath) + "?page=";
  if (resource.compare(0, prefix.size(), prefix) != 0) throw Refusal{404, "no such socket: " + resource};
  std::string page = resource.substr(prefix.size());
  if (!IsHex(page)) throw Refusal{400, "the socket needs its page token (?page=TOKEN)"};
  return page;
}

std::string AnswerMessage(const std::string& message, const std::string& page, const Handler& handle) {
  std::string why;
  Json in = nptvjson::Parse(message, &why);
  if (in.is_discarded()) return Answer(nullptr, 400, "the message is not JSON: " + why, nullptr);
  if (!in.is_object()) return Answer(nullptr, 400, "the message is not a JSON object", nullptr);
  if (!in.contains("id") || !in["id"].is_number_integer())
    return Answer(nullptr, 400, "the message has no number \"id\"", nullptr);
  const Json id = in["id"];
  if (!in.contains("action") || !in["action"].is_string())
    return Answer(id, 400, "the message has no text \"action\"", nullptr);
  const std::string action = in["action"].get<std::string>();
  if (!Allowed(action)) return Answer(id, 404, "unknown request " + action + " on a socket", nullptr);
  Json body = in.contains("body") ? std::move(in["body"]) : Json::object();
  if (!body.is_object()) return Answer(id, 400, "the message's \"body\" is not an object", nullptr);
  body["page"] = page;  // a socket reaches its own page only
  if (action == "ping") {
    const Json pong = Json::object();
    return Answer(id, 200, "", &pong);
  }
  try {
    Json reply = handle(action, std::move(body));
    return Answer(id, 200, "", &reply);
  } catch (const Refusal& r) {
    return Answer(id, r.status, r.reason, nullptr);
  } catch (const std::exception& e) {
    return Answer(id, 400, std::string("bad request: ") + e.what(), nullptr);
  }
}

// ---- Pending handshakes ---------------------------------------------------------------------

std::uintptr_t Pending::Admit(std::uintptr_t id, const std::string& peer) {
  m_order.emplace_back(id, peer);
  std::size_t fromPeer = 0;
  for (const auto& entry : m_order) fromPeer += entry.second == peer;
  auto drop = m_order.end();
  if (fromPeer > kPendingPerPeer) {
    drop = std::find_if(m_order.begin(), m_order.end(), [&](const auto& entry) { return entry.second == peer; });
  } else if (m_order.size() > kPending) {
    drop = m_order.begin();
  }
  if (drop == m_order.end()) return 0;
  std::uintptr_t dropped = drop->first;
  m_order.erase(drop);
  return dropped;
}

void Pending::Done(std::uintptr_t id) {
  m_order.remove_if([id](const auto& entry) { return entry.first == id; });
}

// ---- SocketServer ----------------------------------------------------------------------------

using WsServer = websocketpp::server<websocketpp::config::asio>;
using Hdl = websocketpp::connection_hdl;

struct SocketServer::Impl {
  Handler handle;
  std::function<std::shared_ptr<Channel>(const std::string&)> channelOf;
  std::function<void(const std::string&)> gone;
  WsServer server;
  std::thread thread;
  int httpPort = 0, port = 0;
  // Only the server's thread touches these.
  struct Open {
    std::string page;
    std::shared_ptr<Channel> channel;
  };
  std::map<Hdl, Open, std::owner_less<Hdl>> pages;
  Pending pending;
  std::map<std::uintptr_t, Hdl> waiting;  // the pending ones' handles

  static std::uintptr_t Id(const Hdl& hdl) { return reinterpret_cast<std::uintptr_t>(hdl.lock().get()); }

  // The handshake ended (opened, refused, failed).
  void Settle(const Hdl& hdl) {
    pending.Done(Id(hdl));
    waiting.erase(Id(hdl));
  }

  void Admit(const Hdl& hdl) {
    websocketpp::lib::error_code ec;
    WsServer::connection_ptr con = server.get_con_from_hdl(hdl, ec);
    if (ec) return;
    asio::error_code aec;
    const std::string peer = con->get_raw_socket().remote_endpoint(aec).address().to_string();
    waiting[Id(hdl)] = hdl;
    auto it = waiting.find(pending.Admit(Id(hdl), aec ? "?" : peer));
    if (it == waiting.end()) return;
    WsServer::connection_ptr old = server.get_con_from_hdl(it->second, ec);
    waiting.erase(it);
    if (!ec) old->terminate(websocketpp::error::make_error_code(websocketpp::error::open_handshake_timeout));
  }

  // Sends the page's events; closes its socket once the page is gone, or
  // when it does not read them.
  void Flush(const Hdl& hdl) {
    auto it = pages.find(hdl);
    if (it == pages.end()) return;
    bool closed = false;
    std::deque<std::string> events = it->second.channel->Take(std::chrono::milliseconds(0), &closed);
    websocketpp::lib::error_code ec;
    for (const std::string& e : events) server.send(hdl, e, websocketpp::frame::opcode::text, ec);
    WsServer::connection_ptr con = server.get_con_from_hdl(hdl, ec);
    if (closed) server.close(hdl, websocketpp::close::status::normal, "the page was closed", ec);
    else if (con && con->get_buffered_amount() > kMaxUnsent)
      server.close(hdl, websocketpp::close::status::policy_violation, "the page does not read its events", ec);
  }

  // The socket ended: its page with it.
  void Forget(const Hdl& hdl) {
    Settle(hdl);
    auto it = pages.find(hdl);
    if (it == pages.end()) return;
    it->second.channel->Listen(nullptr);
    gone(it->second.page);
    pages.erase(it);
  }
};

SocketServer::SocketServer(Handler handle, std::function<std::shared_ptr<Channel>(const std::string&)> channel,
                           std::function<void(const std::string&)> gone)
    : m_impl(new Impl) {
  m_impl->handle = std::move(handle);
  m_impl->channelOf = std::move(channel);
  m_impl->gone = std::move(gone);
}

SocketServer::~SocketServer() { Stop(); }

int SocketServer::Listen(int httpPort, std::string* error) {
  Impl& d = *m_impl;
  d.httpPort = httpPort;
  d.server.clear_access_channels(websocketpp::log::alevel::all);
  d.server.clear_error_channels(websocketpp::log::elevel::all);
  websocketpp::lib::error_code ec;
  d.server.init_asio(ec);
  if (ec) return *error = ec.message(), 0;
  d.server.set_max_message_size(kMaxMessage);
  d.server.set_max_http_body_size(0);  // an opening has no body
  d.server.set_open_handshake_timeout(kHandshakeLimit);
  // Every answer leaves at once (no coalescing of small writes).
  d.server.set_socket_init_handler([](Hdl, asio::ip::tcp::socket& s) {
    asio::error_code ignored;
    s.set_option(asio::ip::tcp::no_delay(true), ignored);
  });
  d.server.set_tcp_post_init_handler([&d](Hdl hdl) { d.Admit(hdl); });
  d.server.set_validate_handler([&d](Hdl hdl) {
    d.Settle(hdl);
    WsServer::connection_ptr con = d.server.get_con_from_hdl(hdl);
    asio::error_code aec;
    bool loopback = con->get_raw_socket().remote_endpoint(aec).address().is_loopback() && !aec;
    try {
      std::string page = CheckOpening(con->get_request_header("Host"), con->get_request_header("Origin"),
                                      con->get_resource(), loopback, d.httpPort, d.port);
      std::shared_ptr<Channel> channel = d.channelOf(page);
      if (!channel) throw Refusal{404, "unknown page (closed, or its socket ended)"};
      if (!channel->Attach()) throw Refusal{409, "the page has a socket or an event stream already"};
      d.pages[hdl] = Impl::Open{page, channel};
      return true;
    } catch (const Refusal& r) {
      con->set_status(static_cast<websocketpp::http::status_code::value>(r.status));
      con->set_body("tvbridge: " + r.reason + "\n");
      return false;
    }
  });
  d.server.set_open_handler([&d](Hdl hdl) {
    auto it = d.pages.find(hdl);
    if (it == d.pages.end()) return;
    it->second.channel->Listen([&d, hdl] { asio::post(d.server.get_io_service(), [&d, hdl] { d.Flush(hdl); }); });
  });
  d.server.set_message_handler([&d](Hdl hdl, WsServer::message_ptr msg) {
    websocketpp::lib::error_code sec;
    auto it = d.pages.find(hdl);
    if (it == d.pages.end()) return;
    if (msg->get_opcode() != websocketpp::frame::opcode::text) {
      d.server.close(hdl, websocketpp::close::status::unsupported_data, "text messages only", sec);
      return;
    }
    d.server.send(hdl, AnswerMessage(msg->get_payload(), it->second.page, d.handle),
                  websocketpp::frame::opcode::text, sec);
  });
  d.server.set_close_handler([&d](Hdl hdl) { d.Forget(hdl); });
  d.server.set_fail_handler([&d](Hdl hdl) { d.Forget(hdl); });
  d.server.listen(asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0), ec);
  if (ec) return *error = ec.message(), 0;
  asio::ip::tcp::endpoint local = d.server.get_local_endpoint(ec);
  if (ec) return *error = ec.message(), 0;
  d.port = local.port();
  d.server.start_accept(ec);
  if (ec) return *error = ec.message(), 0;
  return d.port;
}

void SocketServer::Start() {
  m_impl->thread = std::thread([this] { m_impl->server.run(); });
}

void SocketServer::Stop() {
  Impl& d = *m_impl;
  if (!d.thread.joinable()) return;
  // On the server's thread: no more sockets, the open ones closed, then the
  // loop ends once they are gone.
  asio::post(d.server.get_io_service(), [&d] {
    websocketpp::lib::error_code ec;
    d.server.stop_listening(ec);
    for (auto& entry : d.pages) d.server.close(entry.first, websocketpp::close::status::going_away,
                                               "the bridge is stopping", ec);
  });
  // A peer that never answers the close must not hold the bridge up.
  std::thread watchdog;
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;
  watchdog = std::thread([&] {
    std::unique_lock<std::mutex> lock(mu);
    if (!cv.wait_for(lock, std::chrono::seconds(2), [&] { return done; })) d.server.stop();
  });
  d.thread.join();
  for (auto& entry : d.pages) entry.second.channel->Listen(nullptr);
  {
    std::lock_guard<std::mutex> lock(mu);
    done = true;
  }
  cv.notify_all();
  watchdog.join();
}

}  // namespace tvbridge
