// One browser session with the module and whichever libQuv.so it finds: every
// method called, events raised through the control socket (a burst, then more
// while the instance is destroyed), what a page would see printed; the same
// with the stand-in and through the recorder in front of it.
//   recorder-session MODULE SOCKET EVENTS LATE
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "TestBrowser.h"

namespace tb = testbrowser;

namespace {

int g_socket = -1;

// One request to the simulated TV's control socket; its reply line.
std::string Control(const std::string& line) {
  std::string out = line + "\n";
  if (write(g_socket, out.data(), out.size()) != static_cast<ssize_t>(out.size())) return "";
  std::string reply;
  char c;
  while (read(g_socket, &c, 1) == 1 && c != '\n') reply += c;
  return reply;
}

bool Connect(const std::string& path) {
  g_socket = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  return connect(g_socket, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

std::string Shown(const NPVariant& v) {
  if (v.type == NPVariantType_Int32) return std::to_string(v.value.intValue);
  if (v.type == NPVariantType_String) return "\"" + tb::Text(v) + "\"";
  return "type " + std::to_string(v.type);
}

const char* const kMethods[] = {
    "GetPluginInfo", "ConvertEpochToLocalTime", "GetPresentProgram_Duration",
    "GetPresentProgram_EndTime", "GetPresentProgram_StartTime", "GetPresentProgram_Title",
    "GetProgram_Duration", "GetProgram_EndTime", "GetProgram_StartTime", "GetProgram_Title",
    "GetProgramList", "GetProgramList_Size", "SetEvent", "UnsetEvent", "FlagStreamDST", "GetDST",
    "SetDST", "GetTimeZone", "GetTimeZone_Offset", "SetTimeZone", "GetCountry", "SetCountry",
    "GetLanguage", "SetLanguage", "GetPIP", "CheckPIP", "SetPIP", "GetDisplayPanelType",
    "SetWatchDog", "GetProductType", "GetBDProductType", "GetTargetLocation", "GetProductCode",
    "GetLanguageSet", "SupportPVR", "FlagEnableChannelCategory", "IsYahooAvailable",
    "IsChannelBrowserAvailable", "IsScheduleManagerAvailable", "IsEPGAvailable",
    "IsGuideAvailable", "IsScheduleAvailable", "IsHotelProduct", "SetInternetTVState",
    "SetJorvelState", "FlagAutoClock", "IsTimeSet", "GetPowerState", "IsValidPassword"};

// Raises `n` events, numbered, then an end marker.
void Raise(int n, const char* tag) {
  for (int i = 0; i < n; ++i)
    Control("{\"cmd\":\"event\",\"type\":0,\"param1\":\"" + std::string(tag) +
            "\",\"param2\":\"" + std::to_string(i) + "\"}");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: recorder-session MODULE SOCKET EVENTS LATE\n");
    return 2;
  }
  const int events = std::atoi(argv[3]), late = std::atoi(argv[4]);
  std::string error;
  std::unique_ptr<tb::Host> host = tb::Host::Load(argv[1], &error);
  if (!host || host->Initialize() != NPERR_NO_ERROR) {
    std::fprintf(stderr, "cannot load %s: %s\n", argv[1], error.c_str());
    return 1;
  }
  tb::SetAppText(4001, std::string("/apps/recorded"));
  NPP instance = host->New();
  NPWindow window{};
  int handle = 0;
  window.window = &handle;
  host->plugin().setwindow(instance, &window);
  NPObject* tv = host->ScriptObject(instance);
  if (!tv || !Connect(argv[2])) {
    std::fprintf(stderr, "no script object or no control socket at %s\n", argv[2]);
    return 1;
  }

  // Every method with the first argument list it accepts (the password, a text
  // found nowhere else, first).
  const std::vector<std::vector<NPVariant>> tries = {
      {tb::String("pw-7319")}, {}, {tb::Int(1)}, {tb::Int(1), tb::Int(0)},
      {tb::Int(0), tb::Int(1), tb::Int(2)}};
  for (const char* m : kMethods) {
    std::string line = std::string(m) + ": refused";
    for (std::size_t k = std::strcmp(m, "IsValidPassword") ? 1 : 0; k < tries.size(); ++k) {
      NPVariant result;
      if (!tb::Invoke(tv, m, tries[k], &result)) continue;
      line = std::string(m) + " (argument list " + std::to_string(k) + ") -> " + Shown(result);
      tb::ReleaseValue(&result);
      break;
    }
    std::printf("%s\n", line.c_str());
  }

  // A burst of events to a function handler: all of them, once each, in order.
  NPObject* handler = tb::NewFunction();
  tb::SetProperty(tv, "OnEvent", tb::Object(handler));
  Raise(events, "burst");
  Control("{\"cmd\":\"wait_events\"}");
  tb::PumpAsyncCalls();
  std::vector<tb::InvokeDefaultCall> calls = tb::InvokeDefaultCalls();
  int inOrder = 0;
  while (inOrder < static_cast<int>(calls.size()) &&
         calls[inOrder].args == std::vector<std::string>{"burst", std::to_string(inOrder)})
    ++inOrder;
  std::printf("burst: %zu handler calls, the first %d in order\n", calls.size(), inOrder);

  // Events still arriving while the instance goes: none reaches the page.
  Raise(late, "late");
  host->Destroy(instance);
  Control("{\"cmd\":\"wait_events\"}");
  tb::PumpAsyncCalls();
  std::printf("after destroy: %zu handler calls\n", tb::InvokeDefaultCalls().size() - calls.size());
  tb::Release(tv);
  tb::Release(handler);
  host->entries().shutdown();
  std::printf("browser misuse: %zu\n", tb::Misuses().size());
  close(g_socket);
  return 0;
}
