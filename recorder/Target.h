// The maker's framework library, loaded beside the recorder, and the entry
// points of its classes. Only the interface the module relies on is used:
// the wrapper's constructor and destructor, Open, Close, both Execute and the
// base OnEvent, and the log.
#ifndef NPTV_RECORDER_TARGET_H
#define NPTV_RECORDER_TARGET_H

#include <string>

namespace nptvrec {

// Memory for one object of the maker's wrapper class. The module lays that
// class out as a virtual table pointer and one pointer (its own objects derive
// from it), so the maker's objects are that size; the rest is a margin.
struct MakerObject {
  void* vptr;
  void* data[7];
};

struct Target {
  using Construct = void (*)(void* self, int type);
  using Destroy = void (*)(void* self);
  using Open = bool (MakerObject::*)(std::string, std::string, std::string);
  using Close = void (MakerObject::*)();
  using Execute5 = std::string (MakerObject::*)(std::string, std::string, std::string, std::string,
                                                 std::string);
  using Execute11 = std::string (MakerObject::*)(std::string, std::string, std::string,
                                                  std::string, std::string, std::string,
                                                  std::string, std::string, std::string,
                                                  std::string, std::string);
  using OnEvent = bool (MakerObject::*)(int, std::string, std::string);
  using PrintLog = void (*)(unsigned, unsigned, const char*, ...);

  // Loads the library at `path` (its own symbols first). `self` is the address
  // of one of the recorder's own functions: a library that resolves to the
  // recorder itself is refused. On failure `error` says why.
  void Load(const std::string& path, void* self);
  bool Ok() const { return error.empty(); }

  std::string path, error;
  void* handle = nullptr;
  Construct construct = nullptr;
  Destroy destroy = nullptr;
  Open open = nullptr;
  Close close = nullptr;
  Execute5 execute5 = nullptr;
  Execute11 execute11 = nullptr;
  OnEvent onEvent = nullptr;    // may be missing
  PrintLog printLog = nullptr;  // may be missing
};

}  // namespace nptvrec

#endif
