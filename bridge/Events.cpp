// TV events to the page: the framework's thread copies each event into an
// ExecuteParam record and queues it to the browser's main thread, where the
// page's registered handler is called, as a function object or by name.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>

#include "bridge/CQuvBase.h"
#include "bridge/Log.h"
#include "bridge/ScriptText.h"
#include "module/NPNFuncs.h"

namespace NSPlTV {

namespace {

// Live objects by address, with the serial of the object now living there.
// Touched on the browser's main thread only (construction, destruction,
// AsyncEvent), so it takes no lock. Not a static object, so that objects that
// outlive static destruction can still unregister; freed when the last object
// unregisters, so that unloading the module leaves nothing behind. A tree, not
// a hash table: it holds a handful of objects, and a hash table's bucket
// array growth would ask the TV for a GCC 11 C++ runtime
// (std::__throw_bad_array_new_length, GLIBCXX_3.4.29).
using Owners = std::map<const CQuvBase*, unsigned long long>;
Owners* sLiveOwners = nullptr;

bool IsLive(const CQuvBase* owner, unsigned long long serial) {
  if (!sLiveOwners) return false;
  auto it = sLiveOwners->find(owner);
  return it != sLiveOwners->end() && it->second == serial;
}

// A record and its two texts in one C-heap block (one allocation on the
// framework's thread, one release on the main thread): the texts follow the
// record, each up to its first byte 0, as strdup would copy it.
ExecuteParam* NewExecuteParam(const std::string& param1, const std::string& param2) {
  const std::size_t length1 = std::strlen(param1.c_str());
  const std::size_t length2 = std::strlen(param2.c_str());
  char* block = static_cast<char*>(std::malloc(sizeof(ExecuteParam) + length1 + length2 + 2));
  if (!block) return nullptr;
  auto* record = new (block) ExecuteParam{};
  record->param1 = block + sizeof(ExecuteParam);
  record->param2 = record->param1 + length1 + 1;
  std::memcpy(record->param1, param1.c_str(), length1 + 1);
  std::memcpy(record->param2, param2.c_str(), length2 + 1);
  return record;
}

// The record's texts go with it (NewExecuteParam made them one block).
void FreeExecuteParam(ExecuteParam* record) { std::free(record); }

// A copy of a record's text for the browser, from NPN_MemAlloc.
char* BrowserCopy(const char* text, uint32_t* length) {
  if (!text) text = "";
  *length = static_cast<uint32_t>(std::strlen(text));
  char* copy = static_cast<char*>(NPNFuncs.memalloc(*length + 1));
  if (copy) std::memcpy(copy, text, *length + 1);
  return copy;
}

const char* Shown(const char* text) { return text ? text : "(null)"; }

}  // namespace

void CQuvBase::RegisterLive(CQuvBase* self) {
  if (!sLiveOwners) sLiveOwners = new Owners;
  (*sLiveOwners)[self] = self->m_Serial;
}

void CQuvBase::UnregisterLive(CQuvBase* self) {
  if (!sLiveOwners) return;
  auto it = sLiveOwners->find(self);
  if (it != sLiveOwners->end() && it->second == self->m_Serial) sLiveOwners->erase(it);
  if (sLiveOwners->empty()) {
    delete sLiveOwners;
    sLiveOwners = nullptr;
  }
}

bool CQuvBase::OnEvent(int type, std::string param1, std::string param2) {
  NPTV_LOG("OnEvent", "virtual bool NSPlTV::CQuvBase::OnEvent(int, std::string, std::string)",
           "[%s][%d]type : %d, param1 : %s, param2 : %s", type, param1.c_str(), param2.c_str());
  if (type != 0) return true;
  NPP npp = m_NPP.load();
  if (!npp || !NPNFuncs.pluginthreadasynccall) return false;

  ExecuteParam* record = NewExecuteParam(param1, param2);
  if (!record) return false;
  record->owner = this;
  record->ownerSerial = m_Serial;
  record->type = type;
  NPNFuncs.pluginthreadasynccall(npp, AsyncEvent, record);
  return true;
}

void AsyncEvent(void* data) {
  auto* record = static_cast<ExecuteParam*>(data);
  if (!record || !record->owner || !IsLive(record->owner, record->ownerSerial) ||
      !record->owner->m_NPP.load()) {
    FreeExecuteParam(record);
    return;
  }
  SetEventObject(record);
  if (record->callbackObj) {
    TV_AsyncEvent(record);
  } else if (record->callbackName) {
    TV_AsyncEvent_str(record);
  } else {
    FreeExecuteParam(record);
  }
}

void SetEventObject(ExecuteParam* record) {
  if (!record || !record->owner) return;
  record->npp = record->owner->m_NPP.load();
  if (record->type == 0) {
    record->callbackObj = record->owner->m_pEventCallbackObj;
    record->callbackName = record->owner->m_pszEventCallbackName;
  }
}

void TV_AsyncEvent(void* data) {
  auto* record = static_cast<ExecuteParam*>(data);
  if (!record || !record->callbackObj) {
    FreeExecuteParam(record);
    return;
  }
  NPVariant args[2];
  uint32_t length1 = 0, length2 = 0;
  char* copy1 = BrowserCopy(record->param1, &length1);
  char* copy2 = BrowserCopy(record->param2, &length2);
  if (!copy1 || !copy2) {  // the event is lost; no null text reaches the page
    if (copy1) NPNFuncs.memfree(copy1);
    if (copy2) NPNFuncs.memfree(copy2);
    FreeExecuteParam(record);
    return;
  }
  STRINGN_TO_NPVARIANT(copy1, length1, args[0]);
  STRINGN_TO_NPVARIANT(copy2, length2, args[1]);

  NPObject* callback = record->callbackObj;
  NPVariant result;
  VOID_TO_NPVARIANT(result);
  NPNFuncs.retainobject(callback);
  NPNFuncs.invokeDefault(record->npp, callback, args, 2, &result);
  NPNFuncs.releaseobject(callback);
  NPNFuncs.releasevariantvalue(&args[0]);
  NPNFuncs.releasevariantvalue(&args[1]);
  NPNFuncs.releasevariantvalue(&result);
  FreeExecuteParam(record);
}

namespace {

#if NPTV_QUOTE_EVENT_TEXTS
// name("param1","param2"); with the two texts as JavaScript string literals
// (ScriptText.h): whatever the texts hold, evaluating it calls the named
// function with exactly those two strings and does nothing else. A missing
// text is an empty string. Null (as for a failed allocation) when the text
// would not fit the browser's 32-bit length.
char* CallText(const char* name, const char* param1, const char* param2, std::size_t* length) {
  if (!param1) param1 = "";
  if (!param2) param2 = "";
  const std::size_t nameLength = std::strlen(name);
  const std::size_t length1 = std::strlen(param1);
  const std::size_t length2 = std::strlen(param2);
  // Each byte becomes at most six (a \u escape), so the counts cannot wrap.
  const std::size_t most = (SIZE_MAX - 2) / 6;
  if (length1 > most || length2 > most) return nullptr;
  const std::size_t quoted1 = QuotedLength(param1, length1);
  const std::size_t quoted2 = QuotedLength(param2, length2);
  // name ( literal , literal ) ; and the byte 0, within a uint32_t length.
  std::size_t total = 0;
  for (std::size_t part : {nameLength, std::size_t(1), quoted1, std::size_t(1), quoted2,
                           std::size_t(3)}) {
    if (part > UINT32_MAX - total) return nullptr;
    total += part;
  }
  *length = total - 1;
  char* script = static_cast<char*>(NPNFuncs.memalloc(static_cast<uint32_t>(*length + 1)));
  if (!script) return nullptr;
  char* p = script;
  std::memcpy(p, name, nameLength);
  p += nameLength;
  *p++ = '(';
  p = WriteQuoted(p, param1, length1);
  *p++ = ',';
  p = WriteQuoted(p, param2, length2);
  std::memcpy(p, ");", 3);  // with the terminating byte 0
  return script;
}
#else
// name("param1","param2"); with the parameters' bytes as they are.
char* CallText(const char* name, const char* param1, const char* param2, std::size_t* length) {
  std::size_t nameLength = std::strlen(name);
  std::size_t length1 = param1 ? std::strlen(param1) : 0;
  std::size_t length2 = param2 ? std::strlen(param2) : 0;
  *length = nameLength + (param1 ? length1 + 5 : 3) + (param2 ? length2 + 3 : 0);
  char* script = static_cast<char*>(NPNFuncs.memalloc(static_cast<uint32_t>(*length + 1)));
  if (!script) return nullptr;
  char* p = script;
  auto put = [&p](const char* bytes, std::size_t count) {
    std::memcpy(p, bytes, count);
    p += count;
  };
  put(name, nameLength);
  put("(", 1);
  if (param1) {
    put("\"", 1);
    put(param1, length1);
    put("\"", 1);
  }
  if (param2) {
    put(",\"", 2);
    put(param2, length2);
    put("\"", 1);
  }
  put(");", 3);  // with the terminating byte 0
  return script;
}
#endif

}  // namespace

#define TV_ASYNC_STR_LOG(format, ...) \
  NPTV_LOG("TV_AsyncEvent_str", "void NSPlTV::TV_AsyncEvent_str(void*)", format, ##__VA_ARGS__)

void TV_AsyncEvent_str(void* data) {
  auto* record = static_cast<ExecuteParam*>(data);
  if (!record) return;
  const char* name = record->callbackName;
  const char* param1 = record->param1;
  const char* param2 = record->param2;
  TV_ASYNC_STR_LOG("[%s][%d] Inside TV_AsyncEvent_str  = %s, param1=%s, param2=%s", Shown(name),
                   Shown(param1), Shown(param2));
  if (!name) {
    FreeExecuteParam(record);
    return;
  }

  std::size_t length = 0;
  char* script = CallText(name, param1, param2, &length);
  if (!script) {
    TV_ASYNC_STR_LOG("[%s][%d]=======MEMORY ALLOCATION FAILED!!!");
    FreeExecuteParam(record);
    return;
  }
  TV_ASYNC_STR_LOG("[%s][%d]=======Value of script = %s", script);

  NPObject* window = nullptr;
  NPNFuncs.getvalue(record->npp, NPNVWindowNPObject, &window);
  NPVariant result;
  VOID_TO_NPVARIANT(result);
  bool evaluated = false;
  if (window) {
    NPString text = {script, static_cast<uint32_t>(length)};
    evaluated = NPNFuncs.evaluate(record->npp, window, &text, &result);
  }
  NPNFuncs.memfree(script);
  TV_ASYNC_STR_LOG("[%s][%d] NPNFuncs.evaluate ret = %d", evaluated ? 1 : 0);

  FreeExecuteParam(record);
  NPNFuncs.releasevariantvalue(&result);
  if (window) NPNFuncs.releaseobject(window);
}

}  // namespace NSPlTV
