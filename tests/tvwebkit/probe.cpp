// A probe plug-in loaded instead of libnptv.so: shows script what an NPAPI
// plug-in receives (variant types and values, object identity) and makes the
// browser convert what it answers. Script object methods:
//   describe(...) "type:value" per argument, joined by " | "
//   give(kind) int32 double true null void utf8 latin1 nul empty self held window
//   callWith(f, kind...) f called with those values
//   echo(x); hold(x) isHeld(x); call(f, ...) invoke(o, name, ...)
//   get/set/has/hasMethod/remove(o, name[, v]) construct(f, ...) keys(o)
//   evaluate(text) throwWith(message) refuse() agent() appText(n) attributes()
// and a property `value` that keeps what is set.
#include <npfunctions.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

NPNetscapeFuncs B;

struct Probe {
  NPObject base;
  NPP npp;
  std::vector<NPObject*> held;
  NPVariant value;
  std::string attributes;  // what NPP_New was given: "name=value;" each
};

NPVariant Copy(const NPVariant& v) {
  NPVariant out = v;
  if (v.type == NPVariantType_String) {
    uint32_t n = v.value.stringValue.UTF8Length;
    auto* chars = static_cast<char*>(B.memalloc(n + 1));
    std::memcpy(chars, v.value.stringValue.UTF8Characters, n);
    chars[n] = '\0';
    STRINGN_TO_NPVARIANT(chars, n, out);
  } else if (v.type == NPVariantType_Object) {
    B.retainobject(v.value.objectValue);
  }
  return out;
}

void Text(const std::string& text, NPVariant* out) {
  auto* chars = static_cast<char*>(B.memalloc(static_cast<uint32_t>(text.size() + 1)));
  std::memcpy(chars, text.data(), text.size());
  chars[text.size()] = '\0';
  STRINGN_TO_NPVARIANT(chars, static_cast<uint32_t>(text.size()), *out);
}

std::string Str(const NPVariant& v) {
  if (v.type != NPVariantType_String) return "";
  return std::string(v.value.stringValue.UTF8Characters, v.value.stringValue.UTF8Length);
}

std::string Describe(const NPVariant& v) {
  char number[64];
  switch (v.type) {
    case NPVariantType_Void: return "void";
    case NPVariantType_Null: return "null";
    case NPVariantType_Bool: return v.value.boolValue ? "bool:true" : "bool:false";
    case NPVariantType_Int32: return "int32:" + std::to_string(v.value.intValue);
    case NPVariantType_Double:
      std::snprintf(number, sizeof number, "double:%.17g", v.value.doubleValue);
      return number;
    case NPVariantType_String: {
      std::string hex;
      for (unsigned char c : Str(v)) {
        std::snprintf(number, sizeof number, "%02x", c);
        hex += number;
      }
      return "string:" + hex;
    }
    case NPVariantType_Object: return "object";
  }
  return "?";
}

NPObject* Obj(const NPVariant& v) {
  return v.type == NPVariantType_Object ? v.value.objectValue : nullptr;
}

// The plug-in's own value of a kind (see give).
void Give(Probe* p, NPObject* o, const std::string& k, NPVariant* r) {
  VOID_TO_NPVARIANT(*r);
  if (k == "int32") INT32_TO_NPVARIANT(7, *r);
  else if (k == "double") DOUBLE_TO_NPVARIANT(2.5, *r);
  else if (k == "true") BOOLEAN_TO_NPVARIANT(true, *r);
  else if (k == "null") NULL_TO_NPVARIANT(*r);
  else if (k == "utf8") Text("gr\xc3\xbc\xc3\x9f" "e", r);
  else if (k == "latin1") Text("gr\xfc\xdf" "e", r);
  else if (k == "nul") Text(std::string("a\0b", 3), r);
  else if (k == "empty") Text("", r);
  else if (k == "self") OBJECT_TO_NPVARIANT(B.retainobject(o), *r);
  else if (k == "held" && !p->held.empty()) OBJECT_TO_NPVARIANT(B.retainobject(p->held[0]), *r);
  else if (k == "window") {
    NPObject* w = nullptr;
    if (B.getvalue(p->npp, NPNVWindowNPObject, &w) == NPERR_NO_ERROR && w)
      OBJECT_TO_NPVARIANT(w, *r);
  }
}

bool Invoke(NPObject* o, NPIdentifier id, const NPVariant* a, uint32_t n, NPVariant* r) {
  auto* p = reinterpret_cast<Probe*>(o);
  NPUTF8* raw = B.utf8fromidentifier(id);
  std::string m = raw ? raw : "";
  B.memfree(raw);
  VOID_TO_NPVARIANT(*r);
  if (m == "describe") {
    std::string s;
    for (uint32_t i = 0; i < n; ++i) s += (i ? " | " : "") + Describe(a[i]);
    Text(s, r);
  } else if (m == "give" && n >= 1) {
    Give(p, o, Str(a[0]), r);
  } else if (m == "callWith" && n >= 1 && Obj(a[0])) {
    // The plug-in's own values of the kinds named, as a call's arguments.
    std::vector<NPVariant> args(n - 1);
    for (uint32_t i = 1; i < n; ++i) Give(p, o, Str(a[i]), &args[i - 1]);
    bool ok = B.invokeDefault(p->npp, Obj(a[0]), args.data(), n - 1, r);
    for (NPVariant& v : args) B.releasevariantvalue(&v);
    return ok;
  } else if (m == "echo" && n >= 1) {
    *r = Copy(a[0]);
  } else if (m == "hold" && n >= 1 && Obj(a[0])) {
    p->held.push_back(B.retainobject(Obj(a[0])));
    INT32_TO_NPVARIANT(static_cast<int32_t>(p->held.size()), *r);
  } else if (m == "isHeld" && n >= 1) {
    bool found = false;
    for (NPObject* h : p->held) found = found || h == Obj(a[0]);
    BOOLEAN_TO_NPVARIANT(found, *r);
  } else if (m == "call" && n >= 1 && Obj(a[0])) {
    return B.invokeDefault(p->npp, Obj(a[0]), a + 1, n - 1, r);
  } else if (m == "construct" && n >= 1 && Obj(a[0])) {
    return B.construct(p->npp, Obj(a[0]), a + 1, n - 1, r);
  } else if (m == "invoke" && n >= 2 && Obj(a[0])) {
    return B.invoke(p->npp, Obj(a[0]), B.getstringidentifier(Str(a[1]).c_str()), a + 2, n - 2, r);
  } else if (m == "get" && n >= 2 && Obj(a[0])) {
    return B.getproperty(p->npp, Obj(a[0]), B.getstringidentifier(Str(a[1]).c_str()), r);
  } else if (m == "set" && n >= 3 && Obj(a[0])) {
    bool ok = B.setproperty(p->npp, Obj(a[0]), B.getstringidentifier(Str(a[1]).c_str()), &a[2]);
    BOOLEAN_TO_NPVARIANT(ok, *r);
  } else if (m == "has" && n >= 2 && Obj(a[0])) {
    BOOLEAN_TO_NPVARIANT(B.hasproperty(p->npp, Obj(a[0]), B.getstringidentifier(Str(a[1]).c_str())), *r);
  } else if (m == "hasMethod" && n >= 2 && Obj(a[0])) {
    BOOLEAN_TO_NPVARIANT(B.hasmethod(p->npp, Obj(a[0]), B.getstringidentifier(Str(a[1]).c_str())), *r);
  } else if (m == "remove" && n >= 2 && Obj(a[0])) {
    BOOLEAN_TO_NPVARIANT(B.removeproperty(p->npp, Obj(a[0]), B.getstringidentifier(Str(a[1]).c_str())), *r);
  } else if (m == "keys" && n >= 1 && Obj(a[0])) {
    NPIdentifier* ids = nullptr;
    uint32_t count = 0;
    if (!B.enumerate(p->npp, Obj(a[0]), &ids, &count)) return false;
    std::string s;
    for (uint32_t i = 0; i < count; ++i) {
      NPUTF8* name = B.utf8fromidentifier(ids[i]);
      s += (i ? "," : "") + std::string(name ? name : "");
      B.memfree(name);
    }
    B.memfree(ids);
    Text(s, r);
  } else if (m == "evaluate" && n >= 1) {
    NPObject* w = nullptr;
    if (B.getvalue(p->npp, NPNVWindowNPObject, &w) != NPERR_NO_ERROR || !w) return false;
    std::string script = Str(a[0]);
    NPString text = {script.c_str(), static_cast<uint32_t>(script.size())};
    bool ok = B.evaluate(p->npp, w, &text, r);
    B.releaseobject(w);
    return ok;
  } else if (m == "throwWith" && n >= 1) {
    B.setexception(o, Str(a[0]).c_str());
  } else if (m == "refuse") {
    return false;
  } else if (m == "attributes") {
    Text(p->attributes, r);
  } else if (m == "agent") {
    const char* ua = B.uagent(p->npp);
    Text(ua ? ua : "", r);
  } else if (m == "appText" && n >= 1) {
    char buffer[1024] = {0};
    int v = a[0].type == NPVariantType_Double ? static_cast<int>(a[0].value.doubleValue) : 0;
    if (B.getvalue(p->npp, static_cast<NPNVariable>(v), buffer) == NPERR_NO_ERROR)
      Text(std::string(buffer, strnlen(buffer, sizeof buffer)), r);
    else
      NULL_TO_NPVARIANT(*r);
  } else {
    return false;
  }
  return true;
}

const char* const kMethods[] = {"describe", "give", "callWith", "echo",      "hold",   "isHeld", "call",
                                "construct", "invoke", "get",      "set",    "has",    "hasMethod",
                                "remove",   "keys",   "evaluate",  "throwWith", "refuse", "agent",
                                "appText",  "attributes"};

bool HasMethod(NPObject*, NPIdentifier id) {
  NPUTF8* raw = B.utf8fromidentifier(id);
  bool found = false;
  for (const char* m : kMethods) found = found || (raw && std::strcmp(raw, m) == 0);
  B.memfree(raw);
  return found;
}
bool IsValue(NPIdentifier id) { return id == B.getstringidentifier("value"); }
bool HasProperty(NPObject*, NPIdentifier id) { return IsValue(id); }
bool GetProperty(NPObject* o, NPIdentifier id, NPVariant* r) {
  if (!IsValue(id)) return false;
  *r = Copy(reinterpret_cast<Probe*>(o)->value);
  return true;
}
bool SetProperty(NPObject* o, NPIdentifier id, const NPVariant* v) {
  if (!IsValue(id)) return false;
  auto* p = reinterpret_cast<Probe*>(o);
  B.releasevariantvalue(&p->value);
  p->value = Copy(*v);
  return true;
}
NPObject* Allocate(NPP npp, NPClass*) {
  auto* p = new Probe{{}, npp, {}, {}, {}};
  VOID_TO_NPVARIANT(p->value);
  return &p->base;
}
void Deallocate(NPObject* o) {
  auto* p = reinterpret_cast<Probe*>(o);
  for (NPObject* h : p->held) B.releaseobject(h);
  B.releasevariantvalue(&p->value);
  delete p;
}

NPClass kClass = {NP_CLASS_STRUCT_VERSION, Allocate, Deallocate, nullptr, HasMethod, Invoke,
                  nullptr, HasProperty, GetProperty, SetProperty, nullptr, nullptr, nullptr};

NPError New(NPMIMEType, NPP npp, uint16_t, int16_t argc, char** argn, char** argv, NPSavedData*) {
  npp->pdata = B.createobject(npp, &kClass);
  if (!npp->pdata) return NPERR_OUT_OF_MEMORY_ERROR;
  auto* p = static_cast<Probe*>(npp->pdata);
  for (int16_t i = 0; i < argc; ++i) p->attributes += std::string(argn[i]) + "=" + argv[i] + ";";
  return NPERR_NO_ERROR;
}
NPError Destroy(NPP npp, NPSavedData**) {
  auto* p = static_cast<Probe*>(npp->pdata);
  // The objects the page handed over go now; the script object itself lives
  // as long as the browser holds it.
  for (NPObject* h : p->held) B.releaseobject(h);
  p->held.clear();
  B.releasevariantvalue(&p->value);
  B.releaseobject(&p->base);
  npp->pdata = nullptr;
  return NPERR_NO_ERROR;
}
NPError GetValue(NPP npp, NPPVariable variable, void* value) {
  if (variable != NPPVpluginScriptableNPObject || !npp->pdata) return NPERR_GENERIC_ERROR;
  *static_cast<NPObject**>(value) = B.retainobject(static_cast<NPObject*>(npp->pdata));
  return NPERR_NO_ERROR;
}

}  // namespace

extern "C" {
__attribute__((visibility("default"))) const char* NP_GetMIMEDescription() {
  return "application/tv::probe";
}
__attribute__((visibility("default"))) NPError NP_GetValue(void*, NPPVariable variable, void* value) {
  if (variable == NPPVpluginNameString) {
    *static_cast<const char**>(value) = "nptv probe";
  } else if (variable == NPPVpluginDescriptionString) {
    *static_cast<const char**>(value) = "shows what the browser hands a plug-in";
  } else {
    return NPERR_GENERIC_ERROR;
  }
  return NPERR_NO_ERROR;
}
__attribute__((visibility("default"))) NPError NP_Initialize(NPNetscapeFuncs* b, NPPluginFuncs* p) {
  B = *b;
  p->newp = New;
  p->destroy = Destroy;
  p->getvalue = GetValue;
  return NPERR_NO_ERROR;
}
__attribute__((visibility("default"))) NPError NP_Shutdown() { return NPERR_NO_ERROR; }
}
