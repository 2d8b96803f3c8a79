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

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quv_unload_helper LIBRARY\n");
    return 2;
  }
  for (int round = 0; round < 3; ++round) {
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
      std::fprintf(stderr, "dlopen: %s\n", dlerror());
      return 1;
    }
    // quvstub::FrameworkThreadId() starts the thread.
    using ThreadIdFn = std::thread::id (*)();
    auto threadId = reinterpret_cast<ThreadIdFn>(dlsym(lib, "_ZN7quvstub17FrameworkThreadIdEv"));
    using RaiseFn = std::size_t (*)(int, const std::string&, const std::string&);
    auto raise = reinterpret_cast<RaiseFn>(dlsym(lib, kRaiseEvent));
    if (!threadId || !raise) {
      std::fprintf(stderr, "dlsym: %s\n", dlerror());
      return 1;
    }
    if (threadId() == std::thread::id()) {
      std::fprintf(stderr, "no framework thread\n");
      return 1;
    }
    raise(0, "1", "2");
    if (dlclose(lib) != 0) {
      std::fprintf(stderr, "dlclose: %s\n", dlerror());
      return 1;
    }
  }
  std::printf("unloaded\n");
  return 0;
}
