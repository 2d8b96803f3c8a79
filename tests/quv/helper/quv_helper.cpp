// A small program for the tests that need a process of their own: the log
// file named by QUV_LOG, and a clean exit with the framework thread running.
//
//   quv_helper log TEXT...     PrintLog each TEXT (with "%s") and exit
//   quv_helper exit-busy N     open a connection, raise N events, exit at once
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <quv/CQUVDebug.h>
#include <quv/CQuvPluginWrapper.h>
#include <quvstub/Control.h>

namespace {

class Counting : public quv::CQuvPluginWrapper {
 public:
  Counting() : CQuvPluginWrapper(quv::CClientAppFactory::QUV_CLIENT_TYPE_PLUGIN) {}
  ~Counting() override { Close(); }
  bool OnEvent(int, std::string, std::string) override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "log") == 0) {
    for (int i = 2; i < argc; ++i) quv::CQUVDebug::PrintLog(0, 4, "%s", argv[i]);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "exit-busy") == 0) {
    // The wrapper is leaked on purpose: the process ends with an open
    // connection and events still queued.
    auto* w = new Counting;
    w->Open("TV", "1.0", "TV|widgetpath|");
    int n = std::atoi(argv[2]);
    for (int i = 0; i < n; ++i) quvstub::RaiseEvent(0, std::to_string(i), "x");
    std::printf("raised %d\n", n);
    return 0;
  }
  std::fprintf(stderr, "usage: quv_helper log TEXT... | exit-busy N\n");
  return 2;
}
