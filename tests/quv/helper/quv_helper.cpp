// A program for the tests that need a process of their own:
//   quv_helper log TEXT...   PrintLog each TEXT (with "%s") to QUV_LOG's file
//   quv_helper exit-busy N   open a connection, raise N events, exit at once
//   quv_helper exit-late N   the same, the connection outliving the library's state
//   quv_helper journal N     N commands, then "journal SIZE OLDEST NEWEST"
//   quv_helper serve         a page's stand-in: subscribes to every event, prints
//                            "EVENT type p1 p2", answers stdin's "cmd name args..."
//                            with "REPLY <hex>", ends at end of input
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <quv/CQUVDebug.h>
#include <quv/CQuvPluginWrapper.h>
#include <quvstub/Control.h>

namespace {

// A connection; one made with `print` prints each event as "EVENT type p1 p2".
class Counting : public quv::CQuvPluginWrapper {
 public:
  explicit Counting(bool print = false)
      : CQuvPluginWrapper(quv::CClientAppFactory::QUV_CLIENT_TYPE_PLUGIN), print_(print) {}
  ~Counting() override { Close(); }
  bool OnEvent(int type, std::string p1, std::string p2) override {
    std::lock_guard<std::mutex> lk(out);
    if (print_) std::cout << "EVENT " << type << " " << p1 << " " << p2 << std::endl;
    return true;
  }
  static inline std::mutex out;

 private:
  const bool print_;
};

std::unique_ptr<Counting> g_late;

std::string Hex(const std::string& s) {
  std::string out;
  char b[3];
  for (unsigned char c : s) {
    std::snprintf(b, sizeof b, "%02x", c);
    out += b;
  }
  return out;
}

int Serve() {
  Counting w(true);
  w.Open("TV", "1.0", "TV|widgetpath|helper");
  for (int kind = 1; kind <= 11; ++kind) w.Execute("SetEvent", std::to_string(kind), "0", "0", "0");
  {
    std::lock_guard<std::mutex> lk(Counting::out);
    std::cout << "READY" << std::endl;
  }
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string word;
    std::vector<std::string> t;
    in >> word;
    if (word != "cmd") continue;
    while (in >> word) t.push_back(word == "-" ? "" : word);
    t.resize(5, "0");
    std::string reply = w.Execute(t[0], t[1], t[2], t[3], t[4]);
    std::lock_guard<std::mutex> lk(Counting::out);
    std::cout << "REPLY " << Hex(reply) << std::endl;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "log") == 0) {
    for (int i = 2; i < argc; ++i) quv::CQUVDebug::PrintLog(0, 4, "%s", argv[i]);
    return 0;
  }
  if (argc == 3 && (std::strcmp(argv[1], "exit-busy") == 0 || std::strcmp(argv[1], "exit-late") == 0)) {
    // The process ends with an open connection and events still queued. A
    // function-local static is destroyed before the library's state (built
    // during its construction); a global one after it.
    Counting* w;
    if (std::strcmp(argv[1], "exit-busy") == 0) {
      static Counting early;
      w = &early;
    } else {
      g_late = std::make_unique<Counting>();
      w = g_late.get();
    }
    w->Open("TV", "1.0", "TV|widgetpath|");
    int n = std::atoi(argv[2]);
    for (int i = 0; i < n; ++i) quvstub::RaiseEvent(0, std::to_string(i), "x");
    std::printf("raised %d\n", n);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "serve") == 0) return Serve();
  if (argc == 3 && std::strcmp(argv[1], "journal") == 0) {
    // N commands, then what the journal kept: its size and the first text
    // after the name of its oldest and newest entry.
    Counting w;
    w.Open("TV", "1.0", "TV|widgetpath|helper");
    const int n = std::atoi(argv[2]);
    for (int i = 0; i < n; ++i) w.Execute("C", std::to_string(i), "0", "0", "0");
    auto journal = quvstub::Journal();
    std::cout << "journal " << journal.size() << " "
              << (journal.empty() ? "-" : journal.front().texts.at(1)) << " "
              << (journal.empty() ? "-" : journal.back().texts.at(1)) << std::endl;
    return 0;
  }
  std::fprintf(stderr, "usage: quv_helper log TEXT... | exit-busy N | exit-late N | serve\n");
  return 2;
}
