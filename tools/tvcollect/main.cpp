// tvcollect: receives the reports of the TV self-test page (selftest/) over
// HTTP, prints one verdict line per TV, and writes each report and one JUnit
// XML file for all of them.
//
//   tvcollect [--bind ADDR] [--port PORT] [--out DIR] [--max-reports N]
//             [--max-body BYTES] [--exit-after N]
//
// Pages post to http://ADDR:PORT/report. The pages are on TVs: opened from a
// file (origin "null") or served from anywhere, so every origin may post by
// design; answers carry no credentials and tell nothing but ok or why not.
// Every peer is taken as hostile: the body is bounded and read whole before
// anything is decided, its JSON nesting is bounded, the report's shape is
// checked, and the number of reports kept is bounded.
#include <Http.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Report.h"

namespace {

struct Options {
  std::string bind = "127.0.0.1";
  int port = 8914;
  std::string out = ".";
  std::size_t maxReports = 1000;
  std::size_t maxBody = 1 << 20;
  std::size_t exitAfter = 0;
};

[[noreturn]] void Usage(const std::string& error) {
  std::cerr << "tvcollect: " << error
            << "\nusage: tvcollect [--bind ADDR] [--port PORT] [--out DIR] [--max-reports N] "
               "[--max-body BYTES] [--exit-after N]\n";
  std::exit(2);
}

long Number(const std::string& opt, const std::string& v, long lo, long hi) {
  char* end = nullptr;
  long n = std::strtol(v.c_str(), &end, 10);
  if (v.empty() || *end || n < lo || n > hi)
    Usage(opt + ": expected a number in " + std::to_string(lo) + ".." + std::to_string(hi));
  return n;
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc || !*argv[i + 1]) Usage(a + " needs a value");
      return argv[++i];
    };
    if (a == "--bind") o.bind = value();
    else if (a == "--port") o.port = static_cast<int>(Number(a, value(), 0, 65535));
    else if (a == "--out") o.out = value();
    else if (a == "--max-reports") o.maxReports = Number(a, value(), 1, 100000);
    else if (a == "--max-body") o.maxBody = Number(a, value(), 1024, 64 << 20);
    else if (a == "--exit-after") o.exitAfter = Number(a, value(), 1, 100000);
    else if (a == "--help" || a == "-h") Usage("the collector of the TV self-test's reports");
    else Usage("unknown option " + a);
  }
  return o;
}

// Any origin may post (see above); a page that sends JSON as such asks first.
const std::vector<std::pair<std::string, std::string>> kCors = {
    {"Access-Control-Allow-Origin", "*"},
    {"Access-Control-Allow-Methods", "POST"},
    {"Access-Control-Allow-Headers", "Content-Type"},
    {"Access-Control-Max-Age", "600"}};

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  std::error_code ec;
  std::filesystem::create_directories(o.out, ec);
  if (ec) Usage("--out: cannot make " + o.out + ": " + ec.message());

  std::mutex lock;
  std::condition_variable allIn;
  std::vector<tvcollect::Entry> kept;
  bool done = false;
  hostkit::http::Limits limits;
  limits.body = o.maxBody;  // longer bodies: 413, never read into a report
  limits.methods = {"POST", "OPTIONS"};
  limits.name = "tvcollect";
  limits.always = kCors;  // refusals too, so that the page can read why
  hostkit::http::Server server([&](const hostkit::http::Request& req, hostkit::http::Response& res) {
    if (req.path != "/report") return res.Set(404, "text/plain", "refused: only /report is served\n");
    if (req.method == "OPTIONS") return res.Set(204, "text/plain", "");
    tvcollect::Entry e;
    std::string why = tvcollect::Read(req.body, e);
    if (!why.empty()) {
      std::cerr << "tvcollect: refused a report from " << req.peer << ": " << why << "\n";
      return res.Set(400, "text/plain", "refused: " + why + "\n");
    }
    std::lock_guard<std::mutex> g(lock);
    if (kept.size() >= o.maxReports)
      return res.Set(503, "text/plain", "refused: the collector holds its " + std::to_string(o.maxReports) + " reports\n");
    e.peer = req.peer;
    e.file = "report-" + std::to_string(kept.size() + 1) + ".json";
    std::ofstream report(std::filesystem::path(o.out) / e.file);
    report << e.json << "\n";
    if (!report.flush()) {
      std::cerr << "tvcollect: cannot write " << e.file << " in " << o.out << "\n";
      return res.Set(500, "text/plain", "the collector cannot write its report file\n");
    }
    e.json.clear();  // written: only the checks stay, for the JUnit file
    kept.push_back(e);
    std::ofstream(std::filesystem::path(o.out) / "junit.xml") << tvcollect::Junit(kept);
    std::cout << tvcollect::VerdictLine(e) << std::endl;
    res.Set(200, "text/plain", "ok\n");
    if (o.exitAfter && kept.size() >= o.exitAfter)
      res.ended = [&] {  // once the answer is out
        std::lock_guard<std::mutex> g2(lock);
        done = true;
        allIn.notify_all();
      };
  }, limits);

  const int port = server.Bind(o.port, o.bind);
  if (!port) {
    std::cerr << "tvcollect: cannot listen at " << o.bind << ":" << o.port << " (an IPv4 address)\n";
    return 1;
  }
  std::cout << "tvcollect: listening at http://" << o.bind << ":" << port << "/report, writing to "
            << o.out << std::endl;
  std::thread serving([&] { server.Run(); });
  {
    std::unique_lock<std::mutex> g(lock);
    allIn.wait(g, [&] { return done; });
  }
  server.Stop();
  serving.join();
  return 0;
}
