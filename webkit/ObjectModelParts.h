// What the halves of the WebKit host's object model share (see ObjectModel.h):
// ScriptObject.cpp (script values as NPObjects) and PluginObject.cpp (plug-in
// objects as instances of a JavaScriptCore class), joined by the Root of
// ObjectModel.cpp. Main thread only.
#ifndef NPTV_WEBKIT_OBJECTMODELPARTS_H
#define NPTV_WEBKIT_OBJECTMODELPARTS_H

#include <memory>
#include <string>
#include <unordered_map>

#include "Host.h"
#include "ObjectModel.h"

namespace nptvwebkit {

const NPNetscapeFuncs& Browser();

// ---- Script values as NPObjects (ScriptObject.cpp) --------------------------------------

struct ScriptObject {
  NPObject base;
  JSCValue* value;  // strong; null once the root let go
  Root* root;       // null once the root let go
  int callable;     // whether the value is a function: -1 not yet asked
};
extern NPClass gScriptClass;
extern long gScriptObjects;
inline ScriptObject* AsScript(NPObject* o) { return reinterpret_cast<ScriptObject*>(o); }

// ---- Plug-in objects as script class instances (PluginObject.cpp) ------------------------

struct PluginState {
  NPObject* object = nullptr;  // retained; null once the root let go
  Root* root = nullptr;
  JSCValue* wrapper = nullptr;  // strong while the root is valid
  std::unordered_map<std::string, JSCValue*> methods;  // strong, same lifetime
};
using StateBox = std::shared_ptr<PluginState>;  // a wrapper's data
extern long gPluginWrappers;
// Every live wrapper of every root: wrapper -> its state.
std::unordered_map<JSCValue*, PluginState*>& Wrappers();
// The context's class of plug-in objects; an instance's data is a
// heap-allocated std::shared_ptr<PluginState>.
JSCClass* PluginClass(JSCContext* context);

}  // namespace nptvwebkit

#endif
