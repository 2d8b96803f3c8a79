// The TV operations. Each catalogue row (TvCatalogue.def) becomes one member
// function that hands its command name and inputs to the routine of its
// shape; the shapes are written once, below.
#include "tv/CPlTV.h"

#include <cstring>

namespace NSPlTV {

namespace {

// ---- The shapes -------------------------------------------------------------

// The replied integer of a reply that is not an error reply; 0 when the reply
// carries none.
int IntegerOf(std::string& reply) {
  int value = 0;
  CQuvBase::GetInteger(reply, &value);
  return value;
}

// Integer getter: the caller's variable is written only for an integer reply.
int IntegerGetter(CQuvBase& tv, _NPPluginObjInfo* info, const char* command, int x, int* out) {
  if (!out) return kTvNullOutput;
  std::string reply = tv.Execute(info, command, x, 0, 0, 0);
  if (CQuvBase::IsError(reply)) return kTvError;
  CQuvBase::GetInteger(reply, out);
  return kTvOk;
}

// Enumeration getter (after its null test): any reply but an error reply
// stores a value, 0 when the reply carries no integer.
template <typename T>
int StoringGetter(CQuvBase& tv, _NPPluginObjInfo* info, const char* command, T& out) {
  std::string reply = tv.Execute(info, command, 0, 0, 0, 0);
  if (CQuvBase::IsError(reply)) return kTvError;
  out = static_cast<T>(IntegerOf(reply));
  return kTvOk;
}

template <typename T>
int EnumerationGetter(CQuvBase& tv, _NPPluginObjInfo* info, const char* command, T* out) {
  if (!out) return kTvNullOutput;
  return StoringGetter(tv, info, command, *out);
}

// Value command: the replied integer is the result.
int ValueCommand(CQuvBase& tv, _NPPluginObjInfo* info, const char* command, int x, int y) {
  std::string reply = tv.Execute(info, command, x, y, 0, 0);
  if (CQuvBase::IsError(reply)) return kTvError;
  return IntegerOf(reply);
}

// Acknowledged command: only error or not.
int AcknowledgedCommand(CQuvBase& tv, _NPPluginObjInfo* info, const char* command, int x, int y) {
  std::string reply = tv.Execute(info, command, x, y, 0, 0);
  return CQuvBase::IsError(reply) ? kTvError : kTvOk;
}

// Text getters: the buffer is written only for a reply of the decoder's kind.
int AsciiGetter(CQuvBase& tv, _NPPluginObjInfo* info, const char* command, int x, char* buffer,
                std::size_t capacity) {
  if (!buffer) return kTvNullOutput;
  std::string reply = tv.Execute(info, command, x, 0, 0, 0);
  if (CQuvBase::IsError(reply)) return kTvError;
  CQuvBase::GetASCII(reply, buffer, capacity);
  return kTvOk;
}

int TitleGetter(CQuvBase& tv, _NPPluginObjInfo* info, const char* command, int x,
                unsigned short* buffer, std::size_t capacity) {
  if (!buffer) return kTvNullOutput;
  std::string reply = tv.Execute(info, command, x, 0, 0, 0);
  if (CQuvBase::IsError(reply)) return kTvError;
  CQuvBase::GetUNICODE(reply, buffer, capacity);
  return kTvOk;
}

// Inputs travel as integers: a bool as 0 or 1, an enumeration as its value.
template <typename T>
int AsInt(T x) {
  return static_cast<int>(x);
}

}  // namespace

// The connection opens once the object is complete (see CQuvBase::DeferOpen).
CPlTV::CPlTV(char* widgetPath) : CQuvBase(widgetPath, DeferOpen{}) { OpenConnection(); }

CPlTV::~CPlTV() {}

// ---- The catalogue ----------------------------------------------------------

#define TV_INT_GETTER(name)                           \
  int CPlTV::name(_NPPluginObjInfo* info, int* out) { \
    return IntegerGetter(*this, info, #name, 0, out); \
  }
#define TV_INT_GETTER_AT(name)                               \
  int CPlTV::name(_NPPluginObjInfo* info, int n, int* out) { \
    return IntegerGetter(*this, info, #name, n, out);        \
  }
#define TV_ENUM_GETTER(name, T)                        \
  int CPlTV::name(_NPPluginObjInfo* info, T* out) {    \
    return EnumerationGetter(*this, info, #name, out); \
  }
#define TV_VALUE(name) \
  int CPlTV::name(_NPPluginObjInfo* info) { return ValueCommand(*this, info, #name, 0, 0); }
#define TV_VALUE_OF(name, T)                              \
  int CPlTV::name(_NPPluginObjInfo* info, T x) {          \
    return ValueCommand(*this, info, #name, AsInt(x), 0); \
  }
#define TV_VALUE_OF2(name, T, U)                                 \
  int CPlTV::name(_NPPluginObjInfo* info, T x, U y) {            \
    return ValueCommand(*this, info, #name, AsInt(x), AsInt(y)); \
  }
#define TV_ACK_OF2(name, T, U)                                          \
  int CPlTV::name(_NPPluginObjInfo* info, T x, U y) {                   \
    return AcknowledgedCommand(*this, info, #name, AsInt(x), AsInt(y)); \
  }
#define TV_ASCII_GETTER_OF(name, T, cap)                                             \
  int CPlTV::name(_NPPluginObjInfo* info, T x, char* buffer, std::size_t capacity) { \
    return AsciiGetter(*this, info, #name, AsInt(x), buffer, capacity);              \
  }
#define TV_TITLE_GETTER(name)                                                             \
  int CPlTV::name(_NPPluginObjInfo* info, unsigned short* buffer, std::size_t capacity) { \
    return TitleGetter(*this, info, #name, 0, buffer, capacity);                          \
  }
#define TV_TITLE_GETTER_AT(name)                                                                 \
  int CPlTV::name(_NPPluginObjInfo* info, int n, unsigned short* buffer, std::size_t capacity) { \
    return TitleGetter(*this, info, #name, n, buffer, capacity);                                 \
  }
#include "tv/TvCatalogue.def"

// ---- Operations of their own shape -----------------------------------------

int CPlTV::GetPowerState(_NPPluginObjInfo* info, int& state) {
  return StoringGetter(*this, info, "GetPowerState", state);
}

int CPlTV::IsValidPassword(_NPPluginObjInfo* info, std::string& password) {
  std::string reply = Execute(info, "IsValidPassword", std::string(password), 0, 0, 0);
  if (IsError(reply)) return kTvError;
  return IntegerOf(reply);
}

int CPlTV::SetWatchDog(_NPPluginObjInfo*, bool) { return kTvOk; }

int CPlTV::GetPluginInfo(_NPPluginObjInfo*, _PL_CMN_INFO item, char* buffer, std::size_t capacity) {
  static const char kInfo[] = "TV-0017";
  if (!buffer) return kTvNullOutput;
  if (item != 0) return kTvUnknownItem;
  if (capacity == 0) return kTvOk;  // nothing fits, not even the terminator
  std::size_t length = sizeof kInfo - 1 < capacity - 1 ? sizeof kInfo - 1 : capacity - 1;
  std::memcpy(buffer, kInfo, length);
  buffer[length] = '\0';
  return kTvOk;
}

}  // namespace NSPlTV
