// Loading the maker's library and finding its entry points by their mangled
// names, in the string ABI this recorder is built in (that of the module).
#include "Target.h"

#include <dlfcn.h>

#include <cstddef>
#include <cstring>

namespace nptvrec {

namespace {

#if _GLIBCXX_USE_CXX11_ABI
#define NPTV_S1 "NSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE"
#define NPTV_SN "S6_"
#else
#define NPTV_S1 "Ss"
#define NPTV_SN "Ss"
#endif
#define NPTV_WRAPPER "_ZN3quv17CQuvPluginWrapper"

const char* const kConstruct[] = {NPTV_WRAPPER "C2ENS_17CClientAppFactory15QUV_CLIENT_TYPEE",
                                  NPTV_WRAPPER "C1ENS_17CClientAppFactory15QUV_CLIENT_TYPEE"};
const char* const kDestroy[] = {NPTV_WRAPPER "D2Ev", NPTV_WRAPPER "D1Ev"};
const char kOpen[] = NPTV_WRAPPER "4OpenE" NPTV_S1 NPTV_SN NPTV_SN;
const char kClose[] = NPTV_WRAPPER "5CloseEv";
const char kExecute5[] = NPTV_WRAPPER "7ExecuteE" NPTV_S1 NPTV_SN NPTV_SN NPTV_SN NPTV_SN;
const char kExecute11[] = NPTV_WRAPPER "7ExecuteE" NPTV_S1 NPTV_SN NPTV_SN NPTV_SN NPTV_SN NPTV_SN
    NPTV_SN NPTV_SN NPTV_SN NPTV_SN NPTV_SN;
const char kOnEvent[] = NPTV_WRAPPER "7OnEventEi" NPTV_S1 NPTV_SN;
const char kPrintLog[] = "_ZN3quv9CQUVDebug8PrintLogEjjPKcz";

// A member function pointer to a non-virtual function at `address`: in the
// Itanium C++ ABI (and its ARM variant) the function's address and an
// adjustment of 0.
template <typename M>
M Member(void* address) {
  struct {
    void* ptr;
    std::ptrdiff_t adj;
  } rep{address, 0};
  static_assert(sizeof(M) == sizeof rep, "Itanium C++ ABI member function pointer");
  M m;
  std::memcpy(&m, &rep, sizeof m);
  return m;
}

}  // namespace

void Target::Load(const std::string& libraryPath, void* self) {
  path = libraryPath;
  handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND);
  if (!handle) {
    const char* why = dlerror();
    error = "cannot load the framework library " + path + ": " + (why ? why : "?");
    return;
  }
  std::string missing;
  auto find = [&](const char* name, bool required) -> void* {
    void* at = dlsym(handle, name);
    if (!at && required) missing += std::string(missing.empty() ? "" : ", ") + name;
    return at;
  };
  void* c = find(kConstruct[0], false);
  if (!c) c = find(kConstruct[1], true);
  void* d = find(kDestroy[0], false);
  if (!d) d = find(kDestroy[1], true);
  construct = reinterpret_cast<Construct>(c);
  destroy = reinterpret_cast<Destroy>(d);
  void* o = find(kOpen, true);
  void* cl = find(kClose, true);
  void* e5 = find(kExecute5, true);
  void* e11 = find(kExecute11, true);
  void* ev = find(kOnEvent, false);
  void* log = find(kPrintLog, false);
  if (!missing.empty()) {
    error = path + " lacks " + missing;
    return;
  }
  if (log == self) {
    error = path + " is the recorder itself; NPTV_QUV_LIBRARY must name the maker's library";
    return;
  }
  open = Member<Open>(o);
  close = Member<Close>(cl);
  execute5 = Member<Execute5>(e5);
  execute11 = Member<Execute11>(e11);
  if (ev) onEvent = Member<OnEvent>(ev);
  printLog = reinterpret_cast<PrintLog>(log);
}

}  // namespace nptvrec
