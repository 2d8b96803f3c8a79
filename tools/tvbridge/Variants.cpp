#include "Variants.h"

#include <cmath>
#include <limits>

#include "Bridge.h"

namespace tvbridge {
namespace {

// A script object of a page: calling it (NPN_InvokeDefault) sends the page a
// "call" event with the handle and the arguments; the page runs its function.
struct PageObject : nphost::FunctionBody {
  std::shared_ptr<Channel> channel;
  long long handle = 0;  // 0: the page keeps no handle
  long long instance = 0;
  bool callable = false;

  bool Call(const NPVariant* args, uint32_t count, NPVariant*) override {
    if (!callable) return false;
    Json event = {{"kind", "call"}, {"instance", instance}, {"fn", handle}, {"args", Json::array()}};
    for (uint32_t i = 0; i < count; ++i) event["args"].push_back(Encode(args[i], channel));
    if (channel && handle)
      channel->Push(event.dump(-1, ' ', false, Json::error_handler_t::replace));
    return true;
  }
};

const NPNetscapeFuncs& Browser() { return nphost::Browser(); }

[[noreturn]] void Bad(const std::string& what, const std::string& why) {
  throw Refusal{400, what + ": " + why};
}

double DoubleOf(const Json& v, const std::string& what) {
  if (v.is_number()) return v.get<double>();
  if (v.is_string()) {
    const std::string s = v.get<std::string>();
    if (s == "NaN") return std::numeric_limits<double>::quiet_NaN();
    if (s == "Infinity") return std::numeric_limits<double>::infinity();
    if (s == "-Infinity") return -std::numeric_limits<double>::infinity();
    if (s == "-0") return -0.0;
  }
  Bad(what, "a double must be a number, \"NaN\", \"Infinity\", \"-Infinity\" or \"-0\"");
}

}  // namespace

Arguments::~Arguments() {
  for (NPVariant& v : m_values)
    if (NPVARIANT_IS_OBJECT(v)) Browser().releaseobject(NPVARIANT_TO_OBJECT(v));
}

void Arguments::Add(const Json& value, const std::string& what,
                    const std::shared_ptr<Channel>& channel, long long instance) {
  if (!value.is_object() || !value.contains("t") || !value["t"].is_string())
    Bad(what, "not an encoded value (an object with a text \"t\")");
  const std::string t = value["t"].get<std::string>();
  const Json v = value.contains("v") ? value["v"] : Json();
  NPVariant out;
  if (t == "undefined") {
    VOID_TO_NPVARIANT(out);
  } else if (t == "null") {
    NULL_TO_NPVARIANT(out);
  } else if (t == "boolean") {
    if (!v.is_boolean()) Bad(what, "a boolean needs \"v\": true or false");
    BOOLEAN_TO_NPVARIANT(v.get<bool>(), out);
  } else if (t == "int") {
    if (!v.is_number_integer() || v.get<long long>() < std::numeric_limits<int32_t>::min() ||
        v.get<long long>() > std::numeric_limits<int32_t>::max())
      Bad(what, "an int needs an integral \"v\" in 32-bit range");
    INT32_TO_NPVARIANT(static_cast<int32_t>(v.get<long long>()), out);
  } else if (t == "double") {
    DOUBLE_TO_NPVARIANT(DoubleOf(v, what), out);
  } else if (t == "string") {
    if (!v.is_string()) Bad(what, "a string needs a text \"v\"");
    m_texts.push_back(std::make_unique<std::string>(v.get<std::string>()));
    STRINGN_TO_NPVARIANT(m_texts.back()->data(), static_cast<uint32_t>(m_texts.back()->size()), out);
  } else if (t == "object") {
    const Json h = value.contains("h") ? value["h"] : Json(0);
    const Json callable = value.contains("callable") ? value["callable"] : Json(false);
    if (!h.is_number_integer() || h.get<long long>() < 0 || !callable.is_boolean())
      Bad(what, "an object needs a handle \"h\" (a whole number from 0) and \"callable\" (a boolean)");
    auto object = std::make_unique<PageObject>();
    object->channel = channel;
    object->handle = h.get<long long>();
    object->instance = instance;
    object->callable = callable.get<bool>();
    NPObject* o = nphost::NewFunction(std::move(object));
    if (!o) throw Refusal{500, what + ": the browser could not make an object"};
    OBJECT_TO_NPVARIANT(o, out);
  } else {
    Bad(what, "unknown type \"" + t + "\"");
  }
  m_values.push_back(out);
}

Json Encode(const NPVariant& value, const std::shared_ptr<Channel>& channel) {
  switch (value.type) {
    case NPVariantType_Void: return {{"t", "undefined"}};
    case NPVariantType_Null: return {{"t", "null"}};
    case NPVariantType_Bool: return {{"t", "boolean"}, {"v", NPVARIANT_TO_BOOLEAN(value)}};
    case NPVariantType_Int32: return {{"t", "int"}, {"v", NPVARIANT_TO_INT32(value)}};
    case NPVariantType_Double: {
      const double d = NPVARIANT_TO_DOUBLE(value);
      if (std::isnan(d)) return {{"t", "double"}, {"v", "NaN"}};
      if (std::isinf(d)) return {{"t", "double"}, {"v", d > 0 ? "Infinity" : "-Infinity"}};
      if (d == 0 && std::signbit(d)) return {{"t", "double"}, {"v", "-0"}};
      return {{"t", "double"}, {"v", d}};
    }
    case NPVariantType_String: {
      const NPString& s = NPVARIANT_TO_STRING(value);
      return {{"t", "string"},
              {"v", s.UTF8Characters ? std::string(s.UTF8Characters, s.UTF8Length) : std::string()}};
    }
    case NPVariantType_Object: {
      NPObject* o = NPVARIANT_TO_OBJECT(value);
      Json out = {{"t", "object"}, {"callable", false}};
      if (auto* object = dynamic_cast<PageObject*>(nphost::BodyOf(o))) {
        out["callable"] = object->callable;
        if (object->channel == channel && object->handle) out["h"] = object->handle;
      }
      return out;
    }
  }
  return {{"t", "undefined"}};
}

}  // namespace tvbridge
