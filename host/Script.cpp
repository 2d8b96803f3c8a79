// Script on the host's side (see Script.h), through the table in use.
#include "Script.h"

#include <cstring>

namespace nphost {
namespace {

struct FunctionObject {
  NPObject base;
  std::unique_ptr<FunctionBody> body;
};

NPObject* FunctionAllocate(NPP, NPClass*) { return &(new FunctionObject())->base; }
void FunctionDeallocate(NPObject* o) { delete reinterpret_cast<FunctionObject*>(o); }
bool FunctionInvokeDefault(NPObject* o, const NPVariant* args, uint32_t n, NPVariant* result) {
  VOID_TO_NPVARIANT(*result);
  FunctionBody* body = reinterpret_cast<FunctionObject*>(o)->body.get();
  return body ? body->Call(args, n, result) : true;
}

NPClass sFunctionClass = {NP_CLASS_STRUCT_VERSION, FunctionAllocate, FunctionDeallocate,
                          nullptr, nullptr, nullptr, FunctionInvokeDefault, nullptr,
                          nullptr, nullptr, nullptr, nullptr, nullptr};
NPClass sPlainClass = {NP_CLASS_STRUCT_VERSION, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr};

const NPVariant* Data(const std::vector<NPVariant>& args) {
  return args.empty() ? nullptr : args.data();
}
uint32_t Size(const std::vector<NPVariant>& args) { return static_cast<uint32_t>(args.size()); }

}  // namespace

NPIdentifier Id(const std::string& name) { return Browser().getstringidentifier(name.c_str()); }

NPObject* NewFunction(std::unique_ptr<FunctionBody> body) {
  NPObject* o = Browser().createobject(nullptr, &sFunctionClass);
  if (o) reinterpret_cast<FunctionObject*>(o)->body = std::move(body);
  return o;
}

FunctionBody* BodyOf(NPObject* o) {
  return o && o->_class == &sFunctionClass ? reinterpret_cast<FunctionObject*>(o)->body.get()
                                           : nullptr;
}

NPObject* NewPlainObject() { return Browser().createobject(nullptr, &sPlainClass); }

NPVariant Void() { NPVariant v; VOID_TO_NPVARIANT(v); return v; }
NPVariant Null() { NPVariant v; NULL_TO_NPVARIANT(v); return v; }
NPVariant Bool(bool value) { NPVariant v; BOOLEAN_TO_NPVARIANT(value, v); return v; }
NPVariant Int(int32_t value) { NPVariant v; INT32_TO_NPVARIANT(value, v); return v; }
NPVariant Double(double value) { NPVariant v; DOUBLE_TO_NPVARIANT(value, v); return v; }
NPVariant Object(NPObject* object) { NPVariant v; OBJECT_TO_NPVARIANT(object, v); return v; }

std::string Text(const NPVariant& value) {
  if (value.type != NPVariantType_String || !value.value.stringValue.UTF8Characters) return "";
  return std::string(value.value.stringValue.UTF8Characters, value.value.stringValue.UTF8Length);
}

void ReleaseValue(NPVariant* value) {
  if (value && (NPVARIANT_IS_STRING(*value) || NPVARIANT_IS_OBJECT(*value)))
    Browser().releasevariantvalue(value);
  else if (value)
    VOID_TO_NPVARIANT(*value);  // nothing the browser owns
}
NPObject* Retain(NPObject* object) { return Browser().retainobject(object); }
void Release(NPObject* object) { Browser().releaseobject(object); }

bool HasMethod(NPObject* o, const std::string& name) {
  return Browser().hasmethod(nullptr, o, Id(name));
}
bool HasProperty(NPObject* o, const std::string& name) {
  return Browser().hasproperty(nullptr, o, Id(name));
}
bool Invoke(NPObject* o, const std::string& name, const std::vector<NPVariant>& args,
            NPVariant* result) {
  return Browser().invoke(nullptr, o, Id(name), Data(args), Size(args), result);
}
bool InvokeDefault(NPObject* o, const std::vector<NPVariant>& args, NPVariant* result) {
  return o && o->_class->invokeDefault &&
         o->_class->invokeDefault(o, Data(args), Size(args), result);
}
bool GetProperty(NPObject* o, const std::string& name, NPVariant* result) {
  return Browser().getproperty(nullptr, o, Id(name), result);
}
bool SetProperty(NPObject* o, const std::string& name, const NPVariant& value) {
  return Browser().setproperty(nullptr, o, Id(name), &value);
}
bool RemoveProperty(NPObject* o, const std::string& name) {
  return Browser().removeproperty(nullptr, o, Id(name));
}
bool Enumerate(NPObject* o, NPIdentifier** ids, uint32_t* count) {
  return Browser().enumerate(nullptr, o, ids, count);
}
bool Construct(NPObject* o, const std::vector<NPVariant>& args, NPVariant* result) {
  return Browser().construct(nullptr, o, Data(args), Size(args), result);
}

}  // namespace nphost
