// The browser's entries the plug-in calls: memory, object life, identifiers,
// variants, script calls forwarded to the object's class, the window object
// and the application texts (see Browser.h). What the browser answers, hooks
// and the queue: Queue.cpp.
#include <cstdlib>
#include <cstring>

#include "State.h"

namespace nphost {
namespace detail {

State& S() {
  static State* state = new State;  // never destroyed: late calls stay harmless
  return *state;
}

std::shared_ptr<const ScriptHooks> Hooks() {
  std::lock_guard<std::mutex> lock(S().mu);
  return S().hooks;
}

namespace {

// ---- Memory and objects ---------------------------------------------------------------

void* MemAlloc(uint32_t size) {
  void* p = std::malloc(size ? size : 1);
  if (p) S().openBlocks.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void MemFree(void* p) {
  if (!p) return;
  S().openBlocks.fetch_sub(1, std::memory_order_relaxed);
  std::free(p);
}

NPObject* CreateObject(NPP npp, NPClass* cls) {
  if (!cls) return nullptr;
  NPObject* o = cls->allocate ? cls->allocate(npp, cls)
                              : static_cast<NPObject*>(std::malloc(sizeof(NPObject)));
  if (!o) return nullptr;
  o->_class = cls;
  o->referenceCount = 1;
  S().liveObjects.fetch_add(1, std::memory_order_relaxed);
  return o;
}

NPObject* RetainObject(NPObject* o) {
  if (o) __atomic_add_fetch(&o->referenceCount, 1, __ATOMIC_RELAXED);
  return o;
}

void ReleaseObject(NPObject* o) {
  if (!o || __atomic_sub_fetch(&o->referenceCount, 1, __ATOMIC_ACQ_REL) != 0) return;
  {
    std::lock_guard<std::mutex> lock(S().mu);
    if (o == S().window) S().window = nullptr;
  }
  S().liveObjects.fetch_sub(1, std::memory_order_relaxed);
  if (o->_class->deallocate)
    o->_class->deallocate(o);
  else
    std::free(o);
}

// A wrapper's table, if one is installed: the host's own entries reach each
// other through it, else directly.
const NPNetscapeFuncs* Wrapper() { return S().table.load(std::memory_order_acquire); }

void ReleaseVariantValue(NPVariant* v) {
  if (!v) return;
  const NPNetscapeFuncs* wrapper = Wrapper();
  if (v->type == NPVariantType_String) {
    void* chars = const_cast<NPUTF8*>(v->value.stringValue.UTF8Characters);
    if (chars) wrapper ? wrapper->memfree(chars) : MemFree(chars);
  } else if (v->type == NPVariantType_Object) {
    wrapper ? wrapper->releaseobject(v->value.objectValue) : ReleaseObject(v->value.objectValue);
  }
  VOID_TO_NPVARIANT(*v);
}

// ---- Identifiers -----------------------------------------------------------------------

std::size_t CountLocked(const Identifiers& ids) {
  return ids.names.size() + ids.numbers.size() + ids.passingNames.size() +
         ids.passingNumbers.size();
}

// A slot of the ring for a new passing identifier, its former name forgotten.
Identifier* PassingSlot(Identifiers& ids) {
  if (ids.ring.size() < kPassingIdentifiers) {
    ids.ring.push_back(std::make_unique<Identifier>());
    return ids.ring.back().get();
  }
  Identifier* slot = ids.ring[ids.next].get();
  ids.next = (ids.next + 1) % kPassingIdentifiers;
  if (slot->isString)
    ids.passingNames.erase(slot->text);
  else
    ids.passingNumbers.erase(slot->number);
  return slot;
}

// The identifier of `key`, made by `fill` if new. Out of memory (a throwing
// allocation) leaves nothing half made behind.
template <typename Key, typename Fill>
Identifier* Intern(std::unordered_map<Key, std::unique_ptr<Identifier>>& lasting,
                   std::unordered_map<Key, Identifier*>& passing, const Key& key, Fill fill) {
  Identifiers& ids = S().ids;
  auto it = lasting.find(key);
  if (it != lasting.end()) return it->second.get();
  if (ids.names.size() + ids.numbers.size() < kLastingIdentifiers) {
    auto id = std::make_unique<Identifier>();
    fill(*id);
    return lasting.emplace(key, std::move(id)).first->second.get();
  }
  auto p = passing.find(key);
  if (p != passing.end()) return p->second;
  Identifier* slot = PassingSlot(ids);
  fill(*slot);
  passing.emplace(key, slot);
  return slot;
}

NPIdentifier GetStringIdentifier(const NPUTF8* name) {
  if (!name) return nullptr;
  std::lock_guard<std::mutex> lock(S().mu);
  Identifiers& ids = S().ids;
  return Intern(ids.names, ids.passingNames, std::string(name),
                [name](Identifier& id) { id = Identifier{true, name, 0}; });
}

void GetStringIdentifiers(const NPUTF8** names, int32_t count, NPIdentifier* ids) {
  for (int32_t i = 0; i < count; ++i) ids[i] = Browser().getstringidentifier(names[i]);
}

NPIdentifier GetIntIdentifier(int32_t number) {
  std::lock_guard<std::mutex> lock(S().mu);
  Identifiers& ids = S().ids;
  return Intern(ids.numbers, ids.passingNumbers, number,
                [number](Identifier& id) { id = Identifier{false, std::string(), number}; });
}

bool IdentifierIsString(NPIdentifier id) {
  if (!id) return false;
  std::lock_guard<std::mutex> lock(S().mu);
  return static_cast<Identifier*>(id)->isString;
}

NPUTF8* UTF8FromIdentifier(NPIdentifier id) {
  if (!id) return nullptr;
  std::string text;
  {
    std::lock_guard<std::mutex> lock(S().mu);
    if (!static_cast<Identifier*>(id)->isString) return nullptr;
    text = static_cast<Identifier*>(id)->text;
  }
  char* copy = static_cast<char*>(Browser().memalloc(static_cast<uint32_t>(text.size() + 1)));
  if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

int32_t IntFromIdentifier(NPIdentifier id) {
  if (!id) return 0;
  std::lock_guard<std::mutex> lock(S().mu);
  return static_cast<Identifier*>(id)->isString ? 0 : static_cast<Identifier*>(id)->number;
}

// ---- Script calls, forwarded to the object's class -------------------------------------

bool Invoke(NPP, NPObject* o, NPIdentifier name, const NPVariant* args, uint32_t n,
            NPVariant* result) {
  return o && o->_class->invoke && o->_class->invoke(o, name, args, n, result);
}

bool InvokeDefault(NPP, NPObject* o, const NPVariant* args, uint32_t n, NPVariant* result) {
  return o && o->_class->invokeDefault && o->_class->invokeDefault(o, args, n, result);
}

bool GetProperty(NPP, NPObject* o, NPIdentifier name, NPVariant* result) {
  return o && o->_class->getProperty && o->_class->getProperty(o, name, result);
}

bool SetProperty(NPP, NPObject* o, NPIdentifier name, const NPVariant* value) {
  return o && o->_class->setProperty && o->_class->setProperty(o, name, value);
}

bool RemoveProperty(NPP, NPObject* o, NPIdentifier name) {
  return o && o->_class->removeProperty && o->_class->removeProperty(o, name);
}

bool HasProperty(NPP, NPObject* o, NPIdentifier name) {
  return o && o->_class->hasProperty && o->_class->hasProperty(o, name);
}

bool HasMethod(NPP, NPObject* o, NPIdentifier name) {
  return o && o->_class->hasMethod && o->_class->hasMethod(o, name);
}

bool Enumerate(NPP, NPObject* o, NPIdentifier** ids, uint32_t* count) {
  return o && o->_class->structVersion >= NP_CLASS_STRUCT_VERSION_ENUM && o->_class->enumerate &&
         o->_class->enumerate(o, ids, count);
}

bool Construct(NPP, NPObject* o, const NPVariant* args, uint32_t n, NPVariant* result) {
  return o && o->_class->structVersion >= NP_CLASS_STRUCT_VERSION_CTOR && o->_class->construct &&
         o->_class->construct(o, args, n, result);
}

bool Evaluate(NPP npp, NPObject* o, NPString* script, NPVariant* result) {
  if (!o) return false;
  VOID_TO_NPVARIANT(*result);
  std::shared_ptr<const ScriptHooks> hooks = Hooks();
  if (!hooks->evaluate) {
    std::lock_guard<std::mutex> lock(S().mu);
    return S().evaluateResult;
  }
  std::string text = script && script->UTF8Characters
                         ? std::string(script->UTF8Characters, script->UTF8Length)
                         : std::string();
  return hooks->evaluate(npp, text, result);
}

void SetException(NPObject* object, const NPUTF8* message) {
  std::shared_ptr<const ScriptHooks> hooks = Hooks();
  if (hooks->setException) hooks->setException(object, message);
}

// ---- The browser's own variables ------------------------------------------------------

const char* UserAgent(NPP npp) {
  std::shared_ptr<const ScriptHooks> hooks = Hooks();
  if (hooks->userAgent)
    if (const char* agent = hooks->userAgent(npp)) return agent;
  std::lock_guard<std::mutex> lock(S().mu);
  return S().userAgent ? S().userAgent->c_str() : nullptr;
}

NPError GetValue(NPP npp, NPNVariable variable, void* value) {
  int v = static_cast<int>(variable);
  if (v == NPNVWindowNPObject) {
    std::shared_ptr<const ScriptHooks> hooks = Hooks();
    if (hooks->window) {
      NPObject* window = hooks->window(npp);
      if (!window) return NPERR_GENERIC_ERROR;
      *static_cast<NPObject**>(value) = window;
      return NPERR_NO_ERROR;
    }
  }
  std::lock_guard<std::mutex> lock(S().mu);
  if (v == NPNVWindowNPObject) {
    if (!S().window) return NPERR_GENERIC_ERROR;
    __atomic_add_fetch(&S().window->referenceCount, 1, __ATOMIC_RELAXED);
    *static_cast<NPObject**>(value) = S().window;
    return NPERR_NO_ERROR;
  }
  auto it = S().appTexts.find(v);
  if (it == S().appTexts.end()) return NPERR_GENERIC_ERROR;
  const std::string& text = it->second;
  char* buffer = static_cast<char*>(value);
  if (text.size() >= 1024) {
    std::memcpy(buffer, text.data(), 1024);  // all of it, no terminator
  } else {
    std::memcpy(buffer, text.c_str(), text.size() + 1);
  }
  return NPERR_NO_ERROR;
}

NPError SetValue(NPP, NPPVariable, void*) { return NPERR_NO_ERROR; }
void InvalidateRect(NPP, NPRect*) {}

}  // namespace

void PluginThreadAsyncCall(NPP npp, void (*func)(void*), void* data);  // Queue.cpp

}  // namespace detail

using namespace detail;

NPNetscapeFuncs Functions() {
  NPNetscapeFuncs f;
  std::memset(&f, 0, sizeof f);
  FillUnusedEntries(&f);
  f.size = sizeof(NPNetscapeFuncs);
  f.version = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR;
  f.uagent = UserAgent;
  f.memalloc = MemAlloc;
  f.memfree = MemFree;
  f.getvalue = GetValue;
  f.setvalue = SetValue;
  f.invalidaterect = InvalidateRect;
  f.getstringidentifier = GetStringIdentifier;
  f.getstringidentifiers = GetStringIdentifiers;
  f.getintidentifier = GetIntIdentifier;
  f.identifierisstring = IdentifierIsString;
  f.utf8fromidentifier = UTF8FromIdentifier;
  f.intfromidentifier = IntFromIdentifier;
  f.createobject = CreateObject;
  f.retainobject = RetainObject;
  f.releaseobject = ReleaseObject;
  f.invoke = Invoke;
  f.invokeDefault = InvokeDefault;
  f.evaluate = Evaluate;
  f.getproperty = GetProperty;
  f.setproperty = SetProperty;
  f.removeproperty = RemoveProperty;
  f.hasproperty = HasProperty;
  f.hasmethod = HasMethod;
  f.releasevariantvalue = ReleaseVariantValue;
  f.setexception = SetException;
  f.enumerate = Enumerate;
  f.pluginthreadasynccall = PluginThreadAsyncCall;
  f.construct = Construct;
  return f;
}

const NPNetscapeFuncs& Browser() {
  static const NPNetscapeFuncs own = Functions();
  const NPNetscapeFuncs* table = S().table.load(std::memory_order_acquire);
  return table ? *table : own;
}

void SetBrowser(const NPNetscapeFuncs* table) { S().table.store(table, std::memory_order_release); }

Counts GetCounts() {
  std::lock_guard<std::mutex> lock(S().mu);
  return {S().liveObjects.load(), S().openBlocks.load(), CountLocked(S().ids)};
}

}  // namespace nphost
