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
#include <httplib.h>
#include <limits.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iostream>
#include <sstream>
#include <thread>

#include "Bridge.h"
#include "Files.h"
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

void Refuse(httplib::Response& res, int status, const std::string& reason) {
  res.status = status;
  res.set_content("tvbridge: " + reason + "\n", "text/plain; charset=utf-8");
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

  httplib::Server server;
  // Threads for pages' event streams and waits besides their calls; every
  // call answered at once (no delayed-ACK stalls), on long-lived connections.
  server.new_task_queue = [] { return new httplib::ThreadPool(64); };
  server.set_tcp_nodelay(true);
  server.set_keep_alive_max_count(100000);
  const int port = options.port ? options.port : server.bind_to_any_port("127.0.0.1");
  if (options.port && !server.bind_to_port("127.0.0.1", options.port)) {
    std::cerr << "tvbridge: cannot listen on 127.0.0.1:" << options.port << "\n";
    return 1;
  }
  if (port <= 0) {
    std::cerr << "tvbridge: cannot listen on 127.0.0.1\n";
    return 1;
  }
  const std::string self = "127.0.0.1:" + std::to_string(port);
  const std::string local = "localhost:" + std::to_string(port);

  // The WebSocket of isolated pages, on a port of its own.
  tvbridge::SocketServer sockets(
      [&](const std::string& action, const Json& body) { return tvbridge::HandleBounded(loop, bridge, action, body); },
      [&](const std::string& page) {
        auto known = std::make_shared<bool>(false);
        try {
          return loop.RunFor([&bridge, known, page] { *known = bridge.ChannelOf(page) != nullptr; },
                             tvbridge::kAnswerLimit) && *known;
        } catch (const Refusal&) {
          return false;
        }
      });
  std::string socketError;
  const int socketPort = sockets.Listen(port, &socketError);
  if (!socketPort) {
    std::cerr << "tvbridge: cannot listen for sockets on 127.0.0.1: " << socketError << "\n";
    return 1;
  }
  bridgeJs = "(function () {\nconst SOCKET_PORT = " + std::to_string(socketPort) + ";\n" + methods + script +
             "})();\n";

  // Only pages of the bridge's own origin, and only with its request header.
  server.set_pre_routing_handler([&](const httplib::Request& req, httplib::Response& res) {
    const std::string hostHeader = req.get_header_value("Host");
    if (hostHeader != self && hostHeader != local) {
      Refuse(res, 403, "wrong Host (use http://" + self + "/)");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (req.has_header("Origin")) {
      const std::string origin = req.get_header_value("Origin");
      if (origin != "http://" + self && origin != "http://" + local) {
        Refuse(res, 403, "requests from " + origin + " are refused");
        return httplib::Server::HandlerResponse::Handled;
      }
    }
    if (req.path.rfind("/bridge/", 0) == 0 && req.path != "/bridge/events" &&
        req.get_header_value("X-TV-Bridge") != "1") {
      Refuse(res, 403, "a bridge request needs the header X-TV-Bridge: 1");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });

  server.Get("/tv-bridge.js", [&](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(bridgeJs, "text/javascript; charset=utf-8");
  });

  server.Get("/bridge/events", [&](const httplib::Request& req, httplib::Response& res) {
    const std::string page = req.get_param_value("page");
    std::shared_ptr<tvbridge::Channel> channel;
    loop.Run([&] { channel = bridge.ChannelOf(page); });
    if (!channel) return Refuse(res, 404, "unknown page");
    if (!channel->Attach()) return Refuse(res, 409, "the page has an event stream already");
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [channel](size_t, httplib::DataSink& sink) {
          bool closed = false;
          std::deque<std::string> events = channel->Take(std::chrono::seconds(1), &closed);
          std::string out;
          for (const std::string& e : events) out += "data: " + e + "\n\n";
          if (out.empty()) out = ":\n\n";  // a heartbeat: a lost reader shows on writing
          if (!sink.write(out.data(), out.size())) return false;
          return !closed;
        },
        [&loop, &bridge, page](bool) {
          // The stream ended (the tab closed, or the page went away): its
          // instances go with it.
          try {
            loop.Run([&] { bridge.ClosePage(page); });
          } catch (const Refusal&) {
          }
        });
  });

  SimSocket sim(getenv("QUV_SIM_SOCKET") ? getenv("QUV_SIM_SOCKET") : "");
  std::mutex simMu;
  if (options.simControl) {
    server.Post("/bridge/sim", [&](const httplib::Request& req, httplib::Response& res) {
      std::string reply, why;
      std::lock_guard<std::mutex> lock(simMu);
      if (!getenv("QUV_SIM_SOCKET")) return Refuse(res, 409, "QUV_SIM_SOCKET is not set");
      if (req.body.find('\n') != std::string::npos) return Refuse(res, 400, "one line only");
      if (!sim.Request(req.body, reply, why)) return Refuse(res, 502, "control socket: " + why);
      res.set_content(reply, "application/json");
    });
  }

  // A page waits here (up to 20 s) until the plug-in queued calls for it;
  // it then asks for them to run ("pump") between its own tasks.
  server.Post("/bridge/wait", [&](const httplib::Request& req, httplib::Response& res) {
    Json body = Json::parse(req.body, nullptr, false);
    if (!body.is_object() || !body.contains("page") || !body["page"].is_string())
      return Refuse(res, 400, "the request has no text \"page\"");
    const std::string page = body["page"].get<std::string>();
    auto ready = std::make_shared<std::promise<void>>();
    std::future<void> pending = ready->get_future();
    try {
      loop.Run([&] { bridge.Wait(page, [ready] { ready->set_value(); }); });
      if (pending.wait_for(std::chrono::seconds(20)) != std::future_status::ready)
        loop.Run([&] { bridge.StopWaiting(page); });
    } catch (const Refusal& r) {
      return Refuse(res, r.status, r.reason);
    }
    bool now = pending.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    res.set_header("Cache-Control", "no-store");
    res.set_content(Json{{"pending", now}}.dump(), "application/json");
  });

  server.Post(R"(/bridge/(\w+))", [&](const httplib::Request& req, httplib::Response& res) {
    const std::string action = req.matches[1];
    Json body = Json::parse(req.body, nullptr, false);
    if (body.is_discarded()) return Refuse(res, 400, "the body is not JSON");
    try {
      Json reply = tvbridge::HandleBounded(loop, bridge, action, body);
      res.set_header("Cache-Control", "no-store");
      res.set_content(reply.dump(-1, ' ', false, Json::error_handler_t::replace), "application/json");
    } catch (const Refusal& r) {
      Refuse(res, r.status, r.reason);
    } catch (const std::exception& e) {
      Refuse(res, 400, std::string("bad request: ") + e.what());
    }
  });

  server.Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
    std::optional<std::string> path = tvbridge::Resolve(root, req.path);
    std::string content;
    if (!path || !ReadFile(*path, &content)) return Refuse(res, 404, "no such file: " + req.path);
    res.set_header("Cache-Control", "no-store");
    if (options.isolate) {
      res.set_header("Cross-Origin-Opener-Policy", "same-origin");
      res.set_header("Cross-Origin-Embedder-Policy", "require-corp");
    }
    res.set_content(content, tvbridge::ContentType(*path));
  });

  std::thread stopper([&] {
    int sig = 0;
    sigwait(&stopSignals, &sig);
    server.stop();
    loop.Stop();
  });
  stopper.detach();

  // This thread is the host thread: NP_Initialize here, then the loop.
  NPError initError = host->Initialize();
  if (initError != NPERR_NO_ERROR) {
    std::cerr << "tvbridge: NP_Initialize failed with error " << initError << "\n";
    return 1;
  }
  std::thread http([&] { server.listen_after_bind(); });
  sockets.Start();
  std::cout << "tvbridge: http://" << self << "/" << std::endl;
  loop.Loop();
  server.stop();
  http.join();
  sockets.Stop();
  bridge.CloseAll();
  host->entries().shutdown();
  return 0;
}
