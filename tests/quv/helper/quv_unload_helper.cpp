// Loads libQuv.so with dlopen, starts its framework thread, raises events,
// and unloads it: the process must go on and end without a crash.
#include <dlfcn.h>

#include <cstdio>
#include <string>
#include <thread>

// quvstub::RaiseEvent(int, const std::string&, const std::string&) as mangled
// in the string ABI of this build.
#if _GLIBCXX_USE_CXX11_ABI
const char kRaiseEvent[] =
    "_ZN7quvstub10RaiseEventEiRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEES7_";
#else
const char kRaiseEvent[] = "_ZN7quvstub10RaiseEventEiRKSsS1_";
#endif

int Fail(const char* what, const char* why) {
  std::fprintf(stderr, "%s: %s\n", what, why ? why : "");
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quv_unload_helper LIBRARY\n");
    return 2;
  }
  for (int round = 0; round < 3; ++round) {
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!lib) return Fail("dlopen", dlerror());
    // quvstub::FrameworkThreadId() starts the thread.
    using ThreadIdFn = std::thread::id (*)();
    auto threadId = reinterpret_cast<ThreadIdFn>(dlsym(lib, "_ZN7quvstub17FrameworkThreadIdEv"));
    using RaiseFn = std::size_t (*)(int, const std::string&, const std::string&);
    auto raise = reinterpret_cast<RaiseFn>(dlsym(lib, kRaiseEvent));
    if (!threadId || !raise) return Fail("dlsym", dlerror());
    if (threadId() == std::thread::id()) return Fail("quvstub", "no framework thread");
    raise(0, "1", "2");
    if (dlclose(lib) != 0) return Fail("dlclose", dlerror());
  }
  std::printf("unloaded\n");
  return 0;
}
