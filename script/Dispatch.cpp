// The 49 script methods of the TV object. One table holds, per method, its
// name, argument shape, operation, result shape, start (or TV-unavailable)
// value and work-buffer size; HasMethod and Invoke walk it, and the plug-in
// instance interns the method identifiers from it in the same order.
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "bridge/Log.h"
#include "module/CPlugin.h"
#include "module/NPNFuncs.h"
#include "script/ScriptablePluginObject.h"
#include "tv/CPlTV.h"

NPIdentifier sMethodIds[kMethodCount] = {};

namespace {

using NSPlTV::CPlTV;

const char kInvokeSignature[] =
    "virtual bool ScriptablePluginObject::Invoke(NPIdentifier, const NPVariant*, uint32_t, "
    "NPVariant*)";

// Argument shapes.
enum class Args : unsigned char {
  None,      // no argument
  N,         // one numeric argument
  B,         // one truth argument
  NM,        // two numeric arguments
  Epoch,     // numeric, or a String read as a decimal integer
  Password,  // a String
  Item,      // GetPluginInfo's item code; no count check
};

// Result shapes.
enum class Result : unsigned char {
  Value,    // Int32 of the out-value, which starts at the row's value
  Decimal,  // the out-value (from 0) as decimal text
  Title,    // the title buffer re-formatted with "%s"
  Text,     // the buffer's content
  Return,   // Int32 of the operation's return value; the row's value when the TV is unavailable
};

constexpr std::size_t kTitleSize = 512;
constexpr std::size_t kDecimalSize = 20;
constexpr std::size_t kWorkSize = 1024;  // the largest work buffer (GetPluginInfo)

// One call: converted arguments, the out-value and the work buffer.
struct Call {
  int n = 0;
  int m = 0;
  std::string password;
  int v = 0;
  char* buffer = nullptr;
  std::size_t capacity = 0;
};

using Operation = int (*)(CPlTV&, Call&);

// Adaptors from a call to the operation's parameters, one per parameter list.
template <int (CPlTV::*F)(_NPPluginObjInfo*)>
int Plain(CPlTV& tv, Call&) { return (tv.*F)(nullptr); }

template <typename T, int (CPlTV::*F)(_NPPluginObjInfo*, T)>
int With(CPlTV& tv, Call& c) { return (tv.*F)(nullptr, static_cast<T>(c.n)); }

template <typename T, typename U, int (CPlTV::*F)(_NPPluginObjInfo*, T, U)>
int With2(CPlTV& tv, Call& c) { return (tv.*F)(nullptr, static_cast<T>(c.n), static_cast<U>(c.m)); }

template <int (CPlTV::*F)(_NPPluginObjInfo*, int*)>
int IntOut(CPlTV& tv, Call& c) { return (tv.*F)(nullptr, &c.v); }

template <int (CPlTV::*F)(_NPPluginObjInfo*, int, int*)>
int IntOutAt(CPlTV& tv, Call& c) { return (tv.*F)(nullptr, c.n, &c.v); }

template <typename E, int (CPlTV::*F)(_NPPluginObjInfo*, E*)>
int EnumOut(CPlTV& tv, Call& c) {
  E value = static_cast<E>(c.v);
  int r = (tv.*F)(nullptr, &value);
  c.v = static_cast<int>(value);
  return r;
}

template <typename T, int (CPlTV::*F)(_NPPluginObjInfo*, T, char*, std::size_t)>
int TextOut(CPlTV& tv, Call& c) {
  return (tv.*F)(nullptr, static_cast<T>(c.n), c.buffer, c.capacity);
}

template <int (CPlTV::*F)(_NPPluginObjInfo*, unsigned short*, std::size_t)>
int TitleOut(CPlTV& tv, Call& c) {
  return (tv.*F)(nullptr, reinterpret_cast<unsigned short*>(c.buffer), c.capacity);
}

template <int (CPlTV::*F)(_NPPluginObjInfo*, int, unsigned short*, std::size_t)>
int TitleOutAt(CPlTV& tv, Call& c) {
  return (tv.*F)(nullptr, c.n, reinterpret_cast<unsigned short*>(c.buffer), c.capacity);
}

int PluginInfo(CPlTV& tv, Call& c) {
  return tv.GetPluginInfo(nullptr, static_cast<_PL_CMN_INFO>(c.n), c.buffer, c.capacity);
}
int PowerState(CPlTV& tv, Call& c) { return tv.GetPowerState(nullptr, c.v); }
int Password(CPlTV& tv, Call& c) { return tv.IsValidPassword(nullptr, c.password); }

struct Method {
  const char* name;
  Args args;
  Operation operation;
  Result result;
  int value;              // Value: start of the out-value; Return: answer without a TV
  std::size_t buffer;     // work buffer in bytes (Title, Text)
};

using namespace NSPlTV;

const Method kMethods[kMethodCount] = {
    {"GetPluginInfo", Args::Item, PluginInfo, Result::Text, 0, 1024},
    {"ConvertEpochToLocalTime", Args::Epoch, TextOut<int, &CPlTV::ConvertEpochToLocalTime>, Result::Text, 0, 300},
    {"GetPresentProgram_Duration", Args::None, IntOut<&CPlTV::GetPresentProgram_Duration>, Result::Value, 0, 0},
    {"GetPresentProgram_EndTime", Args::None, IntOut<&CPlTV::GetPresentProgram_EndTime>, Result::Decimal, 0, 0},
    {"GetPresentProgram_StartTime", Args::None, IntOut<&CPlTV::GetPresentProgram_StartTime>, Result::Decimal, 0, 0},
    {"GetPresentProgram_Title", Args::None, TitleOut<&CPlTV::GetPresentProgram_Title>, Result::Title, 0, kTitleSize},
    {"GetProgram_Duration", Args::N, IntOutAt<&CPlTV::GetProgram_Duration>, Result::Value, 0, 0},
    {"GetProgram_EndTime", Args::N, IntOutAt<&CPlTV::GetProgram_EndTime>, Result::Decimal, 0, 0},
    {"GetProgram_StartTime", Args::N, IntOutAt<&CPlTV::GetProgram_StartTime>, Result::Decimal, 0, 0},
    {"GetProgram_Title", Args::N, TitleOutAt<&CPlTV::GetProgram_Title>, Result::Title, 0, kTitleSize},
    {"GetProgramList", Args::NM, With2<int, int, &CPlTV::GetProgramList>, Result::Return, 1, 0},
    {"GetProgramList_Size", Args::None, IntOut<&CPlTV::GetProgramList_Size>, Result::Value, 0, 0},
    {"SetEvent", Args::N, With<_PL_TV_EVENT, &CPlTV::SetEvent>, Result::Return, 1, 0},
    {"UnsetEvent", Args::N, With<_PL_TV_EVENT, &CPlTV::UnsetEvent>, Result::Return, 1, 0},
    {"FlagStreamDST", Args::None, Plain<&CPlTV::FlagStreamDST>, Result::Return, 1, 0},
    {"GetDST", Args::None, EnumOut<_PL_TV_DST_TYPE, &CPlTV::GetDST>, Result::Value, 3, 0},
    {"SetDST", Args::N, With<_PL_TV_DST_TYPE, &CPlTV::SetDST>, Result::Return, 1, 0},
    {"GetTimeZone", Args::None, EnumOut<_PL_TV_TIMEZONE, &CPlTV::GetTimeZone>, Result::Value, 209, 0},
    {"GetTimeZone_Offset", Args::None, IntOut<&CPlTV::GetTimeZone_Offset>, Result::Value, 0, 0},
    {"SetTimeZone", Args::NM, With2<_PL_TV_TIMEZONE, int, &CPlTV::SetTimeZone>, Result::Return, 0, 0},
    {"GetCountry", Args::None, EnumOut<_PL_TV_COUNTRY, &CPlTV::GetCountry>, Result::Value, 52, 0},
    {"SetCountry", Args::N, With<_PL_TV_COUNTRY, &CPlTV::SetCountry>, Result::Return, 1, 0},
    {"GetLanguage", Args::None, EnumOut<_PL_TV_LANGUAGE, &CPlTV::GetLanguage>, Result::Value, 64, 0},
    {"SetLanguage", Args::N, With<_PL_TV_LANGUAGE, &CPlTV::SetLanguage>, Result::Return, 1, 0},
    {"GetPIP", Args::None, Plain<&CPlTV::GetPIP>, Result::Return, 1, 0},
    {"CheckPIP", Args::B, With<bool, &CPlTV::CheckPIP>, Result::Return, 1, 0},
    {"SetPIP", Args::B, With<bool, &CPlTV::SetPIP>, Result::Return, 1, 0},
    {"GetDisplayPanelType", Args::None, EnumOut<_PL_TV_DISPLAY_PANEL, &CPlTV::GetDisplayPanelType>, Result::Value, 7, 0},
    {"SetWatchDog", Args::B, With<bool, &CPlTV::SetWatchDog>, Result::Return, 1, 0},
    {"GetProductType", Args::None, EnumOut<_PL_TV_PRODUCT_TYPE, &CPlTV::GetProductType>, Result::Value, 3, 0},
    {"GetBDProductType", Args::None, EnumOut<_PL_TV_BDPRODUCT_TYPE, &CPlTV::GetBDProductType>, Result::Value, 4, 0},
    {"GetTargetLocation", Args::None, EnumOut<_PL_TV_TARGET_LOCATION, &CPlTV::GetTargetLocation>, Result::Value, 18, 0},
    {"GetProductCode", Args::B, TextOut<bool, &CPlTV::GetProductCode>, Result::Text, 0, 256},
    {"GetLanguageSet", Args::None, EnumOut<_PL_TV_FACTORY_LANGUAGE, &CPlTV::GetLanguageSet>, Result::Value, 10, 0},
    {"SupportPVR", Args::None, Plain<&CPlTV::SupportPVR>, Result::Return, 1, 0},
    {"FlagEnableChannelCategory", Args::None, Plain<&CPlTV::FlagEnableChannelCategory>, Result::Return, 1, 0},
    {"IsYahooAvailable", Args::None, Plain<&CPlTV::IsYahooAvailable>, Result::Return, 1, 0},
    {"IsChannelBrowserAvailable", Args::None, Plain<&CPlTV::IsChannelBrowserAvailable>, Result::Return, 1, 0},
    {"IsScheduleManagerAvailable", Args::None, Plain<&CPlTV::IsScheduleManagerAvailable>, Result::Return, 1, 0},
    {"IsEPGAvailable", Args::None, Plain<&CPlTV::IsEPGAvailable>, Result::Return, 1, 0},
    {"IsGuideAvailable", Args::None, Plain<&CPlTV::IsGuideAvailable>, Result::Return, 1, 0},
    {"IsScheduleAvailable", Args::None, Plain<&CPlTV::IsScheduleAvailable>, Result::Return, 1, 0},
    {"IsHotelProduct", Args::None, Plain<&CPlTV::IsHotelProduct>, Result::Return, 1, 0},
    {"SetInternetTVState", Args::B, With<bool, &CPlTV::SetInternetTVState>, Result::Return, 1, 0},
    {"SetJorvelState", Args::B, With<bool, &CPlTV::SetJorvelState>, Result::Return, 1, 0},
    {"FlagAutoClock", Args::None, Plain<&CPlTV::FlagAutoClock>, Result::Return, 1, 0},
    {"IsTimeSet", Args::None, Plain<&CPlTV::IsTimeSet>, Result::Return, 1, 0},
    {"GetPowerState", Args::None, PowerState, Result::Value, 0, 0},
    {"IsValidPassword", Args::Password, Password, Result::Return, 1, 0},
};

static_assert(sizeof(kMethods) / sizeof(kMethods[0]) == kMethodCount, "one row per method");

// Method lookup by identifier: a small open-addressed table from identifier
// to row, in front of the interned identifiers. A slot is only a hint: it
// counts when the row's identifier still is `name`, so identifiers interned
// anew (another instance, another browser) can never pick the wrong row.
constexpr std::size_t kLookupSlots = 128;  // a power of two, over twice the rows
static_assert(kMethodCount < 255, "a row + 1 fits a slot");
unsigned char sLookup[kLookupSlots];  // row + 1; 0: a free slot

std::size_t SlotOf(NPIdentifier name) {
  auto bits = reinterpret_cast<std::uintptr_t>(name);
  return static_cast<std::size_t>((bits >> 3) * 0x9E3779B1u) & (kLookupSlots - 1);
}

const Method* Find(NPIdentifier name) {
  if (!name) return nullptr;
  std::size_t slot = SlotOf(name);
  for (std::size_t probe = 0; probe < kLookupSlots; ++probe) {
    if (!sLookup[slot]) break;
    std::size_t row = sLookup[slot] - 1u;
    if (sMethodIds[row] == name) return &kMethods[row];
    slot = (slot + 1) & (kLookupSlots - 1);
  }
  // Not seen yet: the interned identifiers decide; a row found is remembered
  // in the first free slot of its probe sequence. A table full of hints for
  // identifiers interned earlier starts again empty.
  for (std::size_t i = 0; i < kMethodCount; ++i) {
    if (sMethodIds[i] != name) continue;
    slot = SlotOf(name);
    std::size_t probe = 0;
    while (probe < kLookupSlots && sLookup[slot]) {
      slot = (slot + 1) & (kLookupSlots - 1);
      ++probe;
    }
    if (probe == kLookupSlots) {
      std::memset(sLookup, 0, sizeof sLookup);
      slot = SlotOf(name);
    }
    sLookup[slot] = static_cast<unsigned char>(i + 1);
    return &kMethods[i];
  }
  return nullptr;
}

uint32_t Count(Args args) {
  switch (args) {
    case Args::None: return 0;
    case Args::NM: return 2;
    default: return 1;
  }
}

// Truncates toward zero; beyond the 32-bit range the nearest limit, NaN 0.
int FromDouble(double d) {
  if (std::isnan(d)) return 0;
  if (d >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (d <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(d);
}

// Base-10 reading as the C library's strtol does, within `length` bytes.
int FromDecimalText(const char* text, uint32_t length) {
  if (!text) return 0;
  uint32_t i = 0;
  while (i < length && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < length && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
    if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (text[i] - '0');
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

bool Numeric(const NPVariant& v, int* out) {
  if (v.type == NPVariantType_Int32) {
    *out = v.value.intValue;
    return true;
  }
  if (v.type == NPVariantType_Double) {
    *out = FromDouble(v.value.doubleValue);
    return true;
  }
  *out = 0;
  return false;
}

void LogInvalidArgument() {
  NPTV_LOG("Invoke", kInvokeSignature, "[%s][%d]Invalid Argument, using default values!");
}

int NumericArgument(const NPVariant& v) {
  int value;
  if (!Numeric(v, &value)) LogInvalidArgument();
  return value;
}

void Convert(Args shape, const NPVariant* args, uint32_t argCount, Call& c) {
  switch (shape) {
    case Args::None:
      break;
    case Args::N:
      c.n = NumericArgument(args[0]);
      break;
    case Args::B:
      c.n = NumericArgument(args[0]) != 0;
      break;
    case Args::NM:
      c.n = NumericArgument(args[0]);
      c.m = NumericArgument(args[1]);
      break;
    case Args::Epoch:
      if (args[0].type == NPVariantType_String)
        c.n = FromDecimalText(args[0].value.stringValue.UTF8Characters,
                              args[0].value.stringValue.UTF8Length);
      else
        c.n = NumericArgument(args[0]);
      break;
    case Args::Password:
      if (args[0].type == NPVariantType_String) {
        const NPString& s = args[0].value.stringValue;
        if (s.UTF8Characters) c.password.assign(s.UTF8Characters, s.UTF8Length);
      } else {
        NPTV_LOG("Invoke", kInvokeSignature, "[%s][%d]args is not string\n");
      }
      break;
    case Args::Item:
      c.n = 1000;
      if (!args || argCount == 0)
        NPTV_LOG("Invoke", kInvokeSignature,
                 "[%s][%d]GetPluginInfo:: Invalid Argument, using default values!");
      else if (!Numeric(args[0], &c.n))
        c.n = 1000;  // other types: the default, without a record
      break;
  }
}

// A String variant holding a browser-allocated copy of `text`, which ends at
// its first NUL and never goes beyond `capacity - 1` bytes.
void SetText(const char* text, std::size_t capacity, NPVariant* result) {
  std::size_t length = strnlen(text, capacity - 1);
  char* copy = static_cast<char*>(NPNFuncs.memalloc(static_cast<uint32_t>(length + 1)));
  if (!copy) return;  // the script sees undefined
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  STRINGN_TO_NPVARIANT(copy, length, *result);
}

}  // namespace

const char* MethodName(std::size_t index) {
  return index < kMethodCount ? kMethods[index].name : nullptr;
}

bool ScriptablePluginObject::HasMethod(NPIdentifier name) { return Find(name) != nullptr; }

bool ScriptablePluginObject::Invoke(NPIdentifier name, const NPVariant* args, uint32_t argCount,
                                    NPVariant* result) {
  CPlugin* plugin = m_NPP ? static_cast<CPlugin*>(m_NPP->pdata) : nullptr;
  CPlTV* tv = plugin ? plugin->m_pTV : nullptr;

  const Method* method = Find(name);
  if (!method) return false;
  if (method->args != Args::Item && (argCount != Count(method->args) || (argCount && !args)))
    return false;

  Call call;
  Convert(method->args, args, argCount, call);

  alignas(unsigned short) char work[kWorkSize];
  call.v = method->result == Result::Value ? method->value : 0;
  call.buffer = work;
  call.capacity = method->buffer;
  // Only what lies before the first NUL is ever read from the buffer, and
  // every operation that writes text ends it with one: a NUL at the start
  // (both bytes of a title's first unit) makes an untouched buffer empty.
  work[0] = work[1] = 0;

  int returned = tv ? method->operation(*tv, call) : method->value;

  switch (method->result) {
    case Result::Value:
      INT32_TO_NPVARIANT(call.v, *result);
      break;
    case Result::Return:
      INT32_TO_NPVARIANT(returned, *result);
      break;
    case Result::Decimal: {
      char decimal[kDecimalSize] = {};
      std::snprintf(decimal, sizeof decimal, "%d", call.v);
      SetText(decimal, sizeof decimal, result);
      break;
    }
    case Result::Title:  // at most kTitleSize - 1 bytes of the buffer, up to its first NUL
      SetText(work, kTitleSize, result);
      break;
    case Result::Text:
      SetText(work, method->buffer, result);
      break;
  }
  return true;
}
