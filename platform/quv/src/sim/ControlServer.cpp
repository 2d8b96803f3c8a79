#include "ControlServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "BoundedJson.h"
#include "Simulator.h"

namespace quvimpl {

namespace {

using nlohmann::json;

// Room for an event text of 1 MiB in any of its spellings: JSON escapes
// (up to six bytes a byte) or hex with spaces (three).
constexpr std::size_t kMaxLine = std::size_t(8) << 20;
// What all clients together may hold in unfinished lines, how many clients
// are served at once, and how much of its replies a client may leave unread
// (beyond that it is dropped; while it has any, its further lines wait).
constexpr std::size_t kMaxPartial = std::size_t(16) << 20;
constexpr std::size_t kMaxClients = 32;
constexpr std::size_t kMaxPending = std::size_t(16) << 20;

std::string Dump(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

std::string Hex(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) AppendHex(out, c);
  return out;
}

bool Unhex(const std::string& hex, std::string* out) {
  std::string bytes;
  int high = -1;
  for (char c : hex) {
    if (c == ' ' || c == ':') continue;
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else
      return false;
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<char>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) return false;
  *out = bytes;
  return true;
}

json Fail(const std::string& error) { return {{"ok", false}, {"error", error}}; }

// A text field given as "NAME" (text) or "NAME_hex" (bytes in hex).
bool TextField(const json& req, const std::string& name, bool required, std::string* out,
               std::string* error) {
  const std::string hexName = name + "_hex";
  if (req.contains(hexName)) {
    if (!req[hexName].is_string() || !Unhex(req[hexName].get<std::string>(), out)) {
      *error = "\"" + hexName + "\" must be a text of hex digit pairs";
      return false;
    }
    return true;
  }
  if (req.contains(name)) {
    if (!req[name].is_string()) {
      *error = "\"" + name + "\" must be a text";
      return false;
    }
    *out = req[name].get<std::string>();
    return true;
  }
  if (required) {
    *error = "\"" + name + "\" (or \"" + hexName + "\") is missing";
    return false;
  }
  return true;
}

bool IntField(const json& req, const std::string& name, bool required, long long lo, long long hi,
              long long* out, std::string* error) {
  if (!req.contains(name)) {
    if (required) *error = "\"" + name + "\" is missing";
    return !required;
  }
  const json& v = req[name];
  if (!v.is_number_integer() || v.get<long long>() < lo || v.get<long long>() > hi) {
    *error = "\"" + name + "\" must be an integer in " + std::to_string(lo) + ".." +
             std::to_string(hi);
    return false;
  }
  *out = v.get<long long>();
  return true;
}

// The most events one request raises.
constexpr long long kMaxBurst = 100000;

const char* kCommands =
    "event, set, state, reply, delay, clear_replies, journal, clear_journal, wait_events, "
    "connections, simulator, reset";

}  // namespace

std::string ControlServer::Handle(Library& lib, const std::string& line) {
  std::string why;
  json req = nptvjson::Parse(line, &why);
  if (req.is_discarded()) return Dump(Fail("not JSON: " + why));
  if (!req.is_object() || !req.contains("cmd") || !req["cmd"].is_string())
    return Dump(Fail("expected an object with a text \"cmd\" (one of: " + std::string(kCommands) +
                     ")"));
  const std::string cmd = req["cmd"].get<std::string>();
  std::string error;
  json reply = {{"ok", true}};

  if (cmd == "event") {
    long long type = 0, count = 0;
    std::string p1, p2;
    if (!IntField(req, "type", false, INT_MIN, INT_MAX, &type, &error) ||
        !TextField(req, "param1", false, &p1, &error) ||
        !TextField(req, "param2", false, &p2, &error) ||
        !IntField(req, "count", false, 1, kMaxBurst, &count, &error))
      return Dump(Fail(error));
    if (!count) {
      reply["queued"] = lib.framework.Raise(static_cast<int>(type), p1, p2);
    } else {
      // A burst: param1 of each event is the text given followed by its number.
      int queued = 0;
      for (long long i = 0; i < count; ++i)
        queued = lib.framework.Raise(static_cast<int>(type), p1 + std::to_string(i), p2);
      reply["queued"] = queued;
    }
  } else if (cmd == "set") {
    if (!req.contains("key") || !req["key"].is_string()) return Dump(Fail("\"key\" is missing"));
    if (!req.contains("value")) return Dump(Fail("\"value\" is missing"));
    error = lib.Sim().Set(req["key"].get<std::string>(), req["value"]);
    if (!error.empty()) return Dump(Fail(error));
  } else if (cmd == "state") {
    reply["state"] = lib.Sim().State();
  } else if (cmd == "reply") {
    std::string command, text;
    long long times = -1;
    if (!TextField(req, "command", true, &command, &error) ||
        !TextField(req, "reply", true, &text, &error) ||
        !IntField(req, "times", false, INT_MIN, INT_MAX, &times, &error))
      return Dump(Fail(error));
    lib.responder.SetReply(command, text, static_cast<int>(times));
  } else if (cmd == "delay") {
    std::string command;
    long long ms = 0;
    if (!TextField(req, "command", true, &command, &error) ||
        !IntField(req, "ms", true, 0, 600000, &ms, &error))
      return Dump(Fail(error));
    lib.responder.SetDelay(command, static_cast<int>(ms));
  } else if (cmd == "clear_replies") {
    lib.responder.Clear();
  } else if (cmd == "journal") {
    json entries = json::array();
    for (const auto& e : lib.journal.All()) {
      json hex = json::array();
      for (const auto& t : e.texts) hex.push_back(Hex(t));
      entries.push_back({{"connection", e.connection}, {"texts", e.texts}, {"hex", hex}});
    }
    reply["journal"] = entries;
  } else if (cmd == "clear_journal") {
    lib.journal.Clear();
  } else if (cmd == "wait_events") {
    lib.framework.WaitForEvents();
  } else if (cmd == "connections") {
    json list = json::array();
    for (const auto& c : lib.framework.Connections())
      list.push_back({{"id", c.id},
                      {"client_type", c.clientType},
                      {"open", c.open},
                      {"name", c.name},
                      {"version", c.version},
                      {"credential", c.credential},
                      {"opens", c.opens},
                      {"closes", c.closes}});
    reply["connections"] = list;
    reply["misuse"] = lib.framework.Misuses();
  } else if (cmd == "simulator") {
    if (!req.contains("on") || !req["on"].is_boolean())
      return Dump(Fail("\"on\" must be true or false"));
    lib.UseSimulator(req["on"].get<bool>());
  } else if (cmd == "reset") {
    lib.Reset();
  } else {
    return Dump(Fail("unknown cmd \"" + cmd + "\" (known: " + kCommands + ")"));
  }
  return Dump(reply);
}

ControlServer::ControlServer(Library& lib, const std::string& path) : lib_(lib), path_(path) {
  const std::string where = "control socket " + path;
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) {
    Complain(where + ": the path is longer than " + std::to_string(sizeof addr.sun_path - 1) +
             " bytes; no control socket");
    return;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);

  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      Complain(where + ": a file that is not a socket is in the way; no control socket");
      return;
    }
    int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool live = probe >= 0 &&
                connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (probe >= 0) close(probe);
    if (live) {
      // Carrying on would leave tvsim and the pages talking to that process.
      Complain(where + ": another process is listening there (uid " + std::to_string(st.st_uid) +
               "); refusing to run beside it. Stop it, or set QUV_SIM_SOCKET to a path of your own "
               "(in $XDG_RUNTIME_DIR)");
      std::fflush(stderr);
      std::_Exit(3);
    }
    unlink(path.c_str());  // stale: left by a process that ended
  }
  // Made in a folder of our own (0700) with mode 0600, then moved into
  // place: no moment at which another user may connect, and no file of
  // anybody else replaced (rename refuses in a sticky folder).
  const std::size_t slash = path.rfind('/');
  std::string folder = (slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash)) +
                       "/.quv-sim-XXXXXX";
  std::vector<char> tmpl(folder.begin(), folder.end());
  tmpl.push_back('\0');
  if (!mkdtemp(tmpl.data())) {
    Complain(where + ": " + std::strerror(errno) + "; no control socket");
    return;
  }
  const std::string privateDir = tmpl.data();
  const std::string privatePath = privateDir + "/s";
  sockaddr_un tmpAddr{};
  tmpAddr.sun_family = AF_UNIX;
  std::strncpy(tmpAddr.sun_path, privatePath.c_str(), sizeof tmpAddr.sun_path - 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  bool made = fd >= 0 && privatePath.size() < sizeof tmpAddr.sun_path &&
              bind(fd, reinterpret_cast<sockaddr*>(&tmpAddr), sizeof tmpAddr) == 0 &&
              chmod(privatePath.c_str(), 0600) == 0 && listen(fd, 16) == 0 &&
              rename(privatePath.c_str(), path.c_str()) == 0 && pipe2(wakePipe_, O_CLOEXEC) == 0;
  const int saved = errno;
  unlink(privatePath.c_str());
  rmdir(privateDir.c_str());
  if (!made) {
    Complain(where + ": " + std::strerror(saved) + "; no control socket");
    if (fd >= 0) close(fd);
    return;
  }
  if (stat(path.c_str(), &st) == 0) {
    dev_ = st.st_dev;
    ino_ = st.st_ino;
  }
  listenFd_ = fd;
  LogSink::Get().Write(0, 1, "libQuv: control socket listening at " + path + "\n");
  thread_ = std::thread([this] { Run(); });
}

ControlServer::~ControlServer() {
  if (listenFd_ < 0) return;
  char c = 'x';
  if (write(wakePipe_[1], &c, 1) < 0) {
  }
  if (thread_.joinable()) thread_.join();
  close(listenFd_);
  close(wakePipe_[0]);
  close(wakePipe_[1]);
  // Remove the socket file unless another process has replaced it meanwhile.
  struct stat st {};
  if (stat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_)
    unlink(path_.c_str());
}

void ControlServer::Run() {
  struct Client {
    std::string in, out;
  };
  std::map<int, Client> clients;
  std::size_t partial = 0;  // bytes of unfinished lines, all clients
  auto drop = [&](int fd) {
    partial -= clients[fd].in.size();
    close(fd);
    clients.erase(fd);
  };
  // Sends what it can without waiting; false when the client is gone or
  // left more than kMaxPending unread.
  auto flush = [&](int fd) {
    std::string& out = clients[fd].out;
    while (!out.empty()) {
      ssize_t n = ::send(fd, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      if (n <= 0) return false;
      out.erase(0, static_cast<std::size_t>(n));
    }
    return out.size() <= kMaxPending;
  };
  // Answers the client's whole lines while its replies are taken.
  auto serve = [&](int fd) {
    Client& c = clients[fd];
    std::size_t nl;
    while (c.out.empty() && (nl = c.in.find('\n')) != std::string::npos) {
      std::string line = c.in.substr(0, nl);
      c.in.erase(0, nl + 1);
      partial -= nl + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.find_first_not_of(" \t") == std::string::npos) continue;
      c.out = Handle(lib_, line) + "\n";
      if (!flush(fd)) return false;
    }
    return true;
  };
  auto closeAll = [&] {
    for (const auto& [fd, c] : clients) close(fd);
    clients.clear();
  };
  for (;;) {
    std::vector<pollfd> fds = {{wakePipe_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
    // A client with replies unread is not read from until it takes them.
    for (const auto& [fd, c] : clients)
      fds.push_back({fd, static_cast<short>(c.out.empty() ? POLLIN : POLLOUT), 0});
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      closeAll();
      return;
    }
    if (fds[0].revents) {  // stop
      closeAll();
      return;
    }
    if (fds[1].revents & POLLIN) {
      int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      ucred peer{};
      socklen_t len = sizeof peer;
      if (fd >= 0 && (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 || peer.uid != geteuid())) {
        const std::string no = Dump(Fail("this control socket serves its own user only")) + "\n";
        if (::send(fd, no.data(), no.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
        }
        close(fd);
      } else if (fd >= 0 && clients.size() >= kMaxClients) {
        const std::string no = Dump(Fail("too many clients (" + std::to_string(kMaxClients) + ")")) + "\n";
        if (::send(fd, no.data(), no.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
        }
        close(fd);
      } else if (fd >= 0) {
        clients[fd] = Client{};
      }
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      const int fd = fds[i].fd;
      Client& c = clients[fd];
      bool ok = true;
      if (!c.out.empty()) {
        ok = flush(fd) && serve(fd);  // lines that waited for the replies to be taken
      } else {
        char buf[65536];
        ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) {
          drop(fd);
          continue;
        }
        partial += static_cast<std::size_t>(n);
        c.in.append(buf, static_cast<std::size_t>(n));
        ok = serve(fd);
      }
      const bool tooLong = c.in.size() > kMaxLine, tooMuch = partial > kMaxPartial;
      if (ok && (tooLong || tooMuch)) {
        c.out += Dump(Fail(tooLong ? "request line longer than " + std::to_string(kMaxLine) + " bytes"
                                   : "unfinished lines of all clients past " +
                                         std::to_string(kMaxPartial) + " bytes")) + "\n";
        flush(fd);
        ok = false;
      }
      if (!ok) drop(fd);
    }
  }
}

}  // namespace quvimpl
