// Script on the host's side: identifiers by name, variants, the browser's own
// script objects (plain objects and functions with a host-given body), and
// script operations on a plug-in's objects. Every operation goes through the
// table in use (Browser()), as a page's script would.
#ifndef NPTV_HOST_SCRIPT_H
#define NPTV_HOST_SCRIPT_H

#include <memory>
#include <string>
#include <vector>

#include "Browser.h"

namespace nphost {

NPIdentifier Id(const std::string& name);

// What a script function object of the host does when the plug-in calls it
// (NPN_InvokeDefault): fills `result` (void at the call) and answers success.
class FunctionBody {
 public:
  virtual ~FunctionBody() = default;
  virtual bool Call(const NPVariant* args, uint32_t count, NPVariant* result) = 0;
};
// A script function object owning `body`; without one, calling it answers
// undefined. The caller owns the creation reference; null when the browser
// made no object.
NPObject* NewFunction(std::unique_ptr<FunctionBody> body = nullptr);
// The body of a function object made by NewFunction; null for other objects.
FunctionBody* BodyOf(NPObject* object);
// A plain script object without members.
NPObject* NewPlainObject();

NPVariant Void();
NPVariant Null();
NPVariant Bool(bool value);
NPVariant Int(int32_t value);
NPVariant Double(double value);
NPVariant Object(NPObject* object);

// The text of a String variant; "" for other types.
std::string Text(const NPVariant& value);
void ReleaseValue(NPVariant* value);
NPObject* Retain(NPObject* object);
void Release(NPObject* object);

// Script operations on an object, through the browser's own entries.
bool HasMethod(NPObject* object, const std::string& name);
bool HasProperty(NPObject* object, const std::string& name);
bool Invoke(NPObject* object, const std::string& name, const std::vector<NPVariant>& args,
            NPVariant* result);
// The object called as a function by script (its class's invokeDefault).
bool InvokeDefault(NPObject* object, const std::vector<NPVariant>& args, NPVariant* result);
bool GetProperty(NPObject* object, const std::string& name, NPVariant* result);
bool SetProperty(NPObject* object, const std::string& name, const NPVariant& value);
bool RemoveProperty(NPObject* object, const std::string& name);
bool Enumerate(NPObject* object, NPIdentifier** identifiers, uint32_t* count);
bool Construct(NPObject* object, const std::vector<NPVariant>& args, NPVariant* result);

}  // namespace nphost

#endif
