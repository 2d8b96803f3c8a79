// The object model of the WebKit host: the plug-in's NPObjects seen by script
// as instances of a JavaScriptCore class, and script values (a handler
// function, the window) seen by the plug-in as NPObjects wrapping a JSCValue.
// The rest of the browser side (identifiers, memory, object life, the async
// queue, the module) is the shared NPAPI host of host/.
//
// Every reference either side holds for an instance is kept in that
// instance's Root and let go by Root::Invalidate (instance destroyed, page
// gone). Main thread only.
#ifndef NPTV_WEBKIT_OBJECTMODEL_H
#define NPTV_WEBKIT_OBJECTMODEL_H

#include <jsc/jsc.h>
#include <npfunctions.h>

#include <array>
#include <memory>
#include <string>
#include <unordered_map>

namespace nptvwebkit {

struct ScriptObject;
struct PluginState;

class Root {
 public:
  explicit Root(JSCContext* context);
  ~Root();
  Root(const Root&) = delete;
  Root& operator=(const Root&) = delete;

  NPP npp() const { return m_npp; }
  void SetNpp(NPP npp) { m_npp = npp; }
  JSCContext* context() const { return m_context; }
  bool valid() const { return m_context != nullptr; }

  // Script value -> variant, as WebKit's own NPAPI layer converts (numbers
  // always as doubles, strings as UTF-8 copies the receiver releases, the
  // plug-in's own objects unwrapped, other objects wrapped with identity).
  void ToVariant(JSCValue* value, NPVariant* out);
  // Whether `value` is this root's undefined (made when the root is, and
  // kept: JavaScriptCore hands out the one wrapper of a value while it
  // lives, so a call's undefined result is this very object).
  bool IsKeptUndefined(JSCValue* value) const { return value && value == m_immediates[kUndefined]; }
  // Variant -> script value (strings that are not UTF-8 are read as Latin-1,
  // as WebKit does). Transfer full. Null only when the root is invalid.
  JSCValue* ToScript(const NPVariant& value);

  // The NPObject for a script object: the same one while it lives. The caller
  // owns the returned reference.
  NPObject* WrapScript(JSCValue* object);
  // The script object for a plug-in NPObject: the same one while the root is
  // valid. Transfer full.
  JSCValue* WrapPlugin(NPObject* object);
  // The plug-in object behind a script value made by WrapPlugin, or null.
  NPObject* Unwrap(JSCValue* value) const;
  // Whether `wrapper` is this root's wrapper of a plug-in object.
  bool Holds(JSCValue* wrapper) const;

  // Lets go of every reference: script values held for the plug-in (the
  // NPObjects themselves stay until the plug-in releases them, then answer
  // nothing) and plug-in objects held for script (calling them throws).
  void Invalidate();

  // A message NPN_SetException left for the script that called the plug-in;
  // thrown into the context when the call returns.
  static void SetPendingException(const char* message);
  bool ThrowPending();

  // A script object of this root is gone (its deallocation).
  void Forget(JSCValue* value) { m_scriptObjects.erase(value); }

 private:
  enum Immediate { kUndefined, kNull, kFalse, kTrue };
  static constexpr int kKeptNumbers = 256;
  static constexpr std::size_t kKeptTexts = 64, kKeptTextLength = 64;
  struct KeptText {
    std::string bytes;
    JSCValue* value = nullptr;  // strong
  };
  JSCValue* Number(double number);
  JSCValue* Text(const char* chars, std::size_t length);

  NPP m_npp = nullptr;
  JSCContext* m_context;  // strong
  std::unordered_map<JSCValue*, ScriptObject*> m_scriptObjects;
  std::unordered_map<NPObject*, std::shared_ptr<PluginState>> m_plugins;
  std::unordered_map<JSCValue*, NPObject*> m_wrappers;  // wrapper -> plug-in object
  // Made once while the root is valid (strong): see ToScript.
  std::array<JSCValue*, 4> m_immediates{};
  std::array<JSCValue*, kKeptNumbers> m_numbers{};
  std::array<KeptText, kKeptTexts> m_texts{};
};

// What script objects and plug-in wrappers exist right now (for the tests).
struct ModelCounts {
  long scriptObjects;   // NPObjects wrapping script values, alive
  long pluginWrappers;  // script wrappers of plug-in objects, not yet collected
};
ModelCounts Counts();

// For the extension's tests and benchmarks only (null otherwise): told just
// before a script function is called on the plug-in's behalf (a handler).
extern void (*gBeforeHandlerCall)();

}  // namespace nptvwebkit

#endif
