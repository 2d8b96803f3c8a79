// tvbridge: the TV object in a desktop browser, backed by the real module.
// Hosts libnptv.so through our NPAPI host (host/Host.h)
// against whatever libQuv.so is on the library path (the simulated TV in
// development), serves /tv-bridge.js and the files of one folder on
// 127.0.0.1, and runs the pages' calls on one host thread.
//
//   tvbridge [--port PORT] [--root DIR] [--module PATH] [--assets DIR] [--sim-control]
//            [--isolate]
//
// --port 0 (the default) takes a free port. --sim-control adds the endpoint
// /bridge/sim, which hands one JSON line to the simulated TV's control socket
// ($QUV_SIM_SOCKET), for the end-to-end pages. --isolate serves the files
// cross-origin isolated (the benchmark's finer timer).
#include <limits.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iostream>
#include <sstream>
#include <thread>

#include "BoundedJson.h"
#include "Bridge.h"
#include "Files.h"
#include "Http.h"
#include "Socket.h"
#include "SimSocket.h"

namespace {

using tvbridge::Json;
using tvbridge::Refusal;

struct Options {
  int port = 0;
  std::string root = ".";
  std::string module = NPTV_BRIDGE_MODULE;
  std::string assets = NPTV_BRIDGE_ASSETS;
  bool simControl = false;
  bool isolate = false;
};

[[noreturn]] void Usage(const std::string& error) {
  std::cerr << "tvbridge: " << error
            << "\nusage: tvbridge [--port PORT] [--root DIR] [--module PATH] [--assets DIR] "
               "[--sim-control] [--isolate]\n";
  std::exit(2);
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage(a + " needs a value");
      return argv[++i];
    };
    if (a == "--port") {
      std::string v = value();
      char* end = nullptr;
      long p = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end || p < 0 || p > 65535) Usage("--port: not a port: " + v);
      o.port = static_cast<int>(p);
    } else if (a == "--root") {
      o.root = value();
    } else if (a == "--module") {
      o.module = value();
    } else if (a == "--assets") {
      o.assets = value();
    } else if (a == "--sim-control") {
      o.simControl = true;
    } else if (a == "--isolate") {
      o.isolate = true;
    } else {
      Usage("unknown option " + a);
    }
  }
  return o;
}

bool ReadFile(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *out = s.str();
  return true;
}

void Refuse(hostkit::http::Response& res, int status, const std::string& reason) {
  res.Set(status, "text/plain; charset=utf-8", "tvbridge: " + reason + "\n");
}

// A request body: JSON nested at most 32 deep (refused before parsing).
Json Body(const std::string& text) {
  std::string why;
  Json body = nptvjson::Parse(text, &why);
  if (body.is_discarded()) throw Refusal{400, "the body is not JSON: " + why};
  return body;
}

// Files whose name starts with a dot (.git, .env, ...) are never served.
bool Hidden(const std::string& path) {
  return path.find("/.") != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = Parse(argc, argv);
  char real[PATH_MAX];
  if (!realpath(options.root.c_str(), real)) Usage("--root: no such folder: " + options.root);
  const std::string root = real;

  // /tv-bridge.js: the generated method list and the bridge's page script.
  std::string methods, script;
  if (!ReadFile(options.assets + "/tv-methods.js", &methods) ||
      !ReadFile(options.assets + "/tv-bridge.js", &script)) {
    std::cerr << "tvbridge: cannot read tv-methods.js and tv-bridge.js in " << options.assets << "\n";
    return 1;
  }
  std::string bridgeJs;  // once the ports are known

  // Signals end the bridge through one waiting thread; no other thread sees
  // them. (A shell starts background jobs with SIGINT ignored: an ignored
  // signal would never reach sigwait.)
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::string error;
  std::unique_ptr<nphost::Host> host = nphost::Host::Load(options.module, &error);
  if (!host) {
    std::cerr << "tvbridge: cannot load " << options.module << ": " << error << "\n";
    return 1;
  }
  tvbridge::HostLoop loop;
  tvbridge::Bridge bridge(*host);
  nphost::SetWindowObject(true);  // the page's window: NPN_Evaluate runs script there
  nphost::ScriptHooks hooks;
  hooks.evaluate = [&](NPP npp, const std::string& text, NPVariant*) {
    return loop.OnHostThread() && bridge.Evaluate(npp, text);
  };
  hooks.queued = [&] { loop.Wake(); };
  loop.SetPump([&] { bridge.Pump(); });
  nphost::SetScriptHooks(hooks);

  // Every request is read whole before anything is decided on it; a
  // refused one closes its connection (Http.h).
  std::function<void(const hostkit::http::Request&, hostkit::http::Response&)> serve;
  hostkit::http::Server server([&](const hostkit::http::Request& req, hostkit::http::Response& res) {
    serve(req, res);
  });
  const int port = server.Bind(options.port);
  if (!port) {
    std::cerr << "tvbridge: cannot listen on 127.0.0.1" << (options.port ? ":" + std::to_string(options.port) : "")
              << "\n";
    return 1;
  }
  const std::string self = "127.0.0.1:" + std::to_string(port);
  const std::string local = "localhost:" + std::to_string(port);

  // The pages' WebSocket, on a port of its own: events, and the calls of
  // isolated pages. A page's socket ending closes the page.
  tvbridge::SocketServer sockets(
      [&](const std::string& action, Json body) { return tvbridge::HandleBounded(loop, bridge, action, std::move(body)); },
      [&](const std::string& page) { return bridge.ChannelOf(page); },
      [&](const std::string& page) { loop.Post([&bridge, page] { bridge.ClosePage(page); }); });
  std::string socketError;
  const int socketPort = sockets.Listen(port, &socketError);
  if (!socketPort) {
    std::cerr << "tvbridge: cannot listen for sockets on 127.0.0.1: " << socketError << "\n";
    return 1;
  }
  bridgeJs = "(function () {\nconst SOCKET_PORT = " + std::to_string(socketPort) + ";\n" + methods + script +
             "})();\n";

  SimSocket sim(getenv("QUV_SIM_SOCKET") ? getenv("QUV_SIM_SOCKET") : "");
  std::mutex simMu;
  using hostkit::http::Request;
  using hostkit::http::Response;

  // The event stream of a page whose socket could not open: its events, and
  // a heartbeat each second (a lost reader shows on writing). Its end closes
  // the page.
  auto events = [&](const Request& req, Response& res) {
    const std::string page = req.Param("page");
    std::shared_ptr<tvbridge::Channel> channel = bridge.ChannelOf(page);
    if (!channel) return Refuse(res, 404, "unknown page");
    if (!channel->Attach()) return Refuse(res, 409, "the page has a socket or an event stream already");
    res.type = "text/event-stream";
    res.stream = [channel](const std::function<bool(const std::string&)>& write) {
      bool closed = false;
      std::deque<std::string> events = channel->Take(std::chrono::seconds(1), &closed);
      std::string out;
      for (const std::string& e : events) out += "data: " + e + "\n\n";
      if (out.empty()) out = ":\n\n";
      return write(out) && !closed;
    };
    res.ended = [&loop, &bridge, page] {
      try {
        loop.Run([&] { bridge.ClosePage(page); });
      } catch (const Refusal&) {
      }
    };
  };

  // One wrapper decides on every request, read whole: only the bridge's own
  // origin, and for /bridge/ only with its request header.
  serve = [&](const Request& req, Response& res) {
    const std::string hostHeader = req.Header("host");
    if (hostHeader != self && hostHeader != local) return Refuse(res, 403, "wrong Host (use http://" + self + "/)");
    if (req.Has("origin")) {
      const std::string origin = req.Header("origin");
      if (origin != "http://" + self && origin != "http://" + local)
        return Refuse(res, 403, "requests from " + origin + " are refused");
    }
    const bool bridgePath = req.path.rfind("/bridge/", 0) == 0;
    if (bridgePath && req.path != "/bridge/events" && req.Header("x-tv-bridge") != "1")
      return Refuse(res, 403, "a bridge request needs the header X-TV-Bridge: 1");
    if (req.method == "GET" && req.path == "/tv-bridge.js") {
      res.Set(200, "text/javascript; charset=utf-8", bridgeJs);
      return;
    }
    if (req.method == "GET" && req.path == "/bridge/events") return events(req, res);
    if (req.method == "POST" && req.path == "/bridge/sim" && options.simControl) {
      // Hands one JSON line to the simulated TV's control socket.
      std::string reply, why;
      std::lock_guard<std::mutex> lock(simMu);
      if (!getenv("QUV_SIM_SOCKET")) return Refuse(res, 409, "QUV_SIM_SOCKET is not set");
      if (req.body.find('\n') != std::string::npos) return Refuse(res, 400, "one line only");
      if (!nptvjson::WithinDepth(req.body))
        return Refuse(res, 400, "the body is nested deeper than " + std::to_string(nptvjson::kMaxDepth) + " levels");
      if (!sim.Request(req.body, reply, why)) return Refuse(res, 502, "control socket: " + why);
      res.Set(200, "application/json", reply);
      return;
    }
    if (req.method == "POST" && bridgePath) {
      const std::string action = req.path.substr(8);
      if (action.empty() || action.find_first_not_of("abcdefghijklmnopqrstuvwxyz") != std::string::npos)
        return Refuse(res, 404, "unknown request " + action);
      try {
        Json reply = tvbridge::HandleBounded(loop, bridge, action, Body(req.body));
        res.Set(200, "application/json", reply.dump(-1, ' ', false, Json::error_handler_t::replace));
      } catch (const Refusal& r) {
        Refuse(res, r.status, r.reason);
      } catch (const std::exception& e) {
        Refuse(res, 400, std::string("bad request: ") + e.what());
      }
      return;
    }
    if (req.method != "GET" || bridgePath) return Refuse(res, 404, "no such request: " + req.method + " " + req.path);
    std::optional<std::string> path = Hidden(req.path) ? std::nullopt : tvbridge::Resolve(root, req.path);
    if (path && Hidden(path->substr(root.size()))) path.reset();
    std::string content;
    if (!path || !ReadFile(*path, &content)) return Refuse(res, 404, "no such file: " + req.path);
    if (options.isolate) {
      res.headers.push_back({"Cross-Origin-Opener-Policy", "same-origin"});
      res.headers.push_back({"Cross-Origin-Embedder-Policy", "require-corp"});
    }
    res.Set(200, tvbridge::ContentType(*path), std::move(content));
  };

  std::thread stopper([&] {
    int sig = 0;
    sigwait(&stopSignals, &sig);
    server.Stop();
    loop.Stop();
  });
  stopper.detach();

  // This thread is the host thread: NP_Initialize here, then the loop.
  NPError initError = host->Initialize();
  if (initError != NPERR_NO_ERROR) {
    std::cerr << "tvbridge: NP_Initialize failed with error " << initError << "\n";
    return 1;
  }
  std::thread http([&] { server.Run(); });
  sockets.Start();
  // Each second, the pages that never opened their socket or stream go.
  loop.SetTick([&bridge] { bridge.CloseSilentPages(); }, std::chrono::seconds(1));
  std::cout << "tvbridge: http://" << self << "/" << std::endl;
  loop.Loop();
  server.Stop();
  http.join();
  sockets.Stop();
  bridge.CloseAll();
  host->entries().shutdown();
  return 0;
}
