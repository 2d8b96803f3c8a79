// The TV operations object: one named framework command per operation, its
// inputs placed among the command's integer texts, its reply turned into the
// result by the operation's shape. The catalogue itself is TvCatalogue.def.
#ifndef NPTV_TV_CPLTV_H
#define NPTV_TV_CPLTV_H

#include <cstddef>
#include <string>

#include "bridge/CQuvBase.h"
#include "tv/TvTypes.h"

namespace NSPlTV {

// Return codes of the operations.
enum : int {
  kTvNullOutput = -3,   // null out pointer or buffer; nothing sent
  kTvUnknownItem = -4,  // GetPluginInfo: an item other than 0
  kTvError = 0,         // error reply
  kTvOk = 1,
};

class CPlTV : public CQuvBase {
 public:
  explicit CPlTV(char* widgetPath);
  virtual ~CPlTV();

#define TV_INT_GETTER(name) int name(_NPPluginObjInfo* info, int* out);
#define TV_INT_GETTER_AT(name) int name(_NPPluginObjInfo* info, int n, int* out);
#define TV_ENUM_GETTER(name, T) int name(_NPPluginObjInfo* info, T* out);
#define TV_VALUE(name) int name(_NPPluginObjInfo* info);
#define TV_VALUE_OF(name, T) int name(_NPPluginObjInfo* info, T x);
#define TV_VALUE_OF2(name, T, U) int name(_NPPluginObjInfo* info, T x, U y);
#define TV_ACK_OF2(name, T, U) int name(_NPPluginObjInfo* info, T x, U y);
#define TV_ASCII_GETTER_OF(name, T, cap) \
  int name(_NPPluginObjInfo* info, T x, char* buffer, std::size_t capacity = cap);
#define TV_TITLE_GETTER(name) \
  int name(_NPPluginObjInfo* info, unsigned short* buffer, std::size_t capacity = 512);
#define TV_TITLE_GETTER_AT(name) \
  int name(_NPPluginObjInfo* info, int n, unsigned short* buffer, std::size_t capacity = 512);
#include "tv/TvCatalogue.def"
#undef TV_INT_GETTER
#undef TV_INT_GETTER_AT
#undef TV_ENUM_GETTER
#undef TV_VALUE
#undef TV_VALUE_OF
#undef TV_VALUE_OF2
#undef TV_ACK_OF2
#undef TV_ASCII_GETTER_OF
#undef TV_TITLE_GETTER
#undef TV_TITLE_GETTER_AT

  // Enumeration getter on a reference: no null test.
  int GetPowerState(_NPPluginObjInfo* info, int& state);
  // Value command with the password as its text argument.
  int IsValidPassword(_NPPluginObjInfo* info, std::string& password);
  // Local operations: nothing is sent.
  int SetWatchDog(_NPPluginObjInfo* info, bool on);
  int GetPluginInfo(_NPPluginObjInfo* info, _PL_CMN_INFO item, char* buffer,
                    std::size_t capacity = 1024);
};

}  // namespace NSPlTV

#endif
