// Fuzz target: script calls on the TV object through the test browser: which
// method (or an unknown name), on the live TV object or an orphan one, with
// arguments of any types and values, and the framework's reply forced.
// The expectation comes from types/tv-api.json (ApiTable.inc), the page
// developers' description, independent of the module's hand-written table in
// script/Dispatch.cpp: a row that differs (argument count, result type,
// fallback, error value, swapped slot) shows up here. Per call: the answer,
// the result's type and value, one log record per unusable argument, exactly
// the one well-formed command for a method that asks the TV; after every
// input the browser's accounting is back where it was, with no misuse.
#include <climits>
#include <cmath>
#include <memory>
#include <vector>

#include <quvstub/Control.h>

#include "Fuzz.h"
#include "TestBrowser.h"
#include "module/NPEntry.h"
#include "module/NPNFuncs.h"
#include "script/ScriptablePluginObject.h"

namespace tb = testbrowser;

namespace {

struct ApiMethod {
  const char* name;
  std::vector<std::string> kinds;
  std::string returns;   // "number" or "string"
  std::string fallback;  // a script literal: 0, 1, "", "0" ...
  std::string onError;
  bool local;            // answered without asking the TV
};

const std::vector<ApiMethod>& Api() {
  static const std::vector<ApiMethod> api = {
#include "ApiTable.inc"
  };
  return api;
}

// A literal of the description as a value: a quoted text or an integer.
struct Value {
  bool isText;
  std::string text;
  int number;
};

Value Literal(const std::string& literal) {
  if (!literal.empty() && literal[0] == '"') return {true, literal.substr(1, literal.size() - 2), 0};
  return {false, "", std::atoi(literal.c_str())};
}

// ---- Argument rules of the description ---------------------------------------

int Number(const NPVariant& v) {
  if (v.type == NPVariantType_Int32) return v.value.intValue;
  if (v.type != NPVariantType_Double) return 0;
  double d = v.value.doubleValue;
  if (std::isnan(d)) return 0;  // not said; the module's choice
  d = std::trunc(d);
  if (d >= INT_MAX) return INT_MAX;
  if (d <= INT_MIN) return INT_MIN;
  return static_cast<int>(d);
}

std::string StringOf(const NPVariant& v) {
  return std::string(v.value.stringValue.UTF8Characters, v.value.stringValue.UTF8Length);
}

int Epoch(const NPVariant& v) {
  return v.type == NPVariantType_String ? fuzz::StrtolClamped(StringOf(v)) : Number(v);
}

// The text the framework receives for one argument slot.
std::string SlotText(const std::string& kind, const NPVariant& v) {
  if (kind == "number") return std::to_string(Number(v));
  if (kind == "flag") return Number(v) != 0 ? "1" : "0";
  if (kind == "epoch") return std::to_string(Epoch(v));
  if (kind == "password") return v.type == NPVariantType_String ? StringOf(v) : "";
  return "?";
}

// An argument the method cannot use as its kind says (it counts as 0 or the
// empty text, and the module records it in the log).
bool Unusable(const std::string& kind, const NPVariant& v) {
  const bool number = v.type == NPVariantType_Int32 || v.type == NPVariantType_Double;
  if (kind == "password") return v.type != NPVariantType_String;
  if (kind == "epoch") return !number && v.type != NPVariantType_String;
  return !number;
}

// The log records of unusable arguments since the last look.
std::size_t ArgumentRecords() {
  std::size_t n = 0;
  for (const auto& call : quvstub::TakeLog())
    n += call.text.find("Invalid Argument, using default values!") != std::string::npos ||
         call.text.find("args is not string") != std::string::npos;
  return n;
}

// ---- Inputs -------------------------------------------------------------------

const double kDoubles[] = {NAN, INFINITY, -INFINITY, 0.0, -0.0, 2147483648.0, -2147483648.0,
                           2147483647.5, -2147483649.0, 0.5, -0.999, 1e300};
const int32_t kInts[] = {0, 1, -1, INT32_MAX, INT32_MIN, 1000};

// The arguments of one call and what they hold on to.
struct Arguments {
  std::vector<NPVariant> values;
  std::vector<std::unique_ptr<std::string>> texts;
  std::vector<NPObject*> objects;

  void Add(fuzz::Reader& in) {
    NPVariant v;
    switch (in.Byte() % 9) {
      case 0: v = tb::Void(); break;
      case 1: v = tb::Null(); break;
      case 2: v = tb::Bool(in.Byte() & 1); break;
      case 3: {
        uint8_t pick = in.Byte();
        v = tb::Int(pick < 6 ? kInts[pick] : static_cast<int32_t>(in.U32()));
        break;
      }
      case 4: {
        uint8_t pick = in.Byte();
        v = tb::Double(pick < 12 ? kDoubles[pick] : in.Double());
        break;
      }
      case 5:
      case 6: {
        std::string text = in.Text();
        // Very long: the text repeated to some 64 KiB.
        if (in.Byte() == 0xFF && !text.empty())
          while (text.size() < 65536) text += text;
        texts.push_back(std::make_unique<std::string>(std::move(text)));
        // The caller's own bytes, exactly sized, with no terminator after them.
        const std::string& s = *texts.back();
        char* bytes = s.empty() ? nullptr : const_cast<char*>(s.data());
        STRINGN_TO_NPVARIANT(bytes, static_cast<uint32_t>(s.size()), v);
        break;
      }
      case 7:
        objects.push_back(tb::NewFunction());
        v = tb::Object(objects.back());
        break;
      default:
        objects.push_back(tb::NewPlainObject());
        v = tb::Object(objects.back());
        break;
    }
    values.push_back(v);
  }
  ~Arguments() {
    for (NPObject* o : objects) tb::Release(o);
  }
};

struct Browser {
  std::unique_ptr<tb::Host> host;
  NPP instance = nullptr;
  NPObject* tv = nullptr;
  NPP_t nobody{nullptr, nullptr};
  NPObject* orphan = nullptr;
  std::size_t objects = 0, allocations = 0;
  uint32_t tvRefs = 0, orphanRefs = 0;

  Browser() {
    tb::Reset();
    quvstub::Reset();
    quvstub::UseSimulator(false);
    quvstub::CaptureLog(true);
    host = std::make_unique<tb::Host>(
        tb::Entries{NP_GetMIMEDescription, NP_GetValue, NP_Initialize, NP_Shutdown});
    FUZZ_CHECK(host->Initialize() == NPERR_NO_ERROR, "NP_Initialize failed");
    NPError error = NPERR_GENERIC_ERROR;
    instance = host->New(&error);
    FUZZ_CHECK(error == NPERR_NO_ERROR && instance, "NPP_New failed: %d", error);
    tv = host->ScriptObject(instance);
    FUZZ_CHECK(tv != nullptr, "no TV object");
    orphan = NPNFuncs.createobject(&nobody, &sScriptablePluginObjectClass);
    FUZZ_CHECK(orphan != nullptr, "no orphan TV object");
    objects = tb::LiveObjects();
    allocations = tb::OpenAllocations();
    tvRefs = tb::RefCount(tv);
    orphanRefs = tb::RefCount(orphan);
  }
};

Browser& B() {
  static Browser* browser = new Browser;  // lives as long as the process
  return *browser;
}

void CheckResult(const ApiMethod& m, const NPVariant& result, const Value& expected,
                 bool valueKnown) {
  if (m.returns == "number") {
    FUZZ_CHECK(result.type == NPVariantType_Int32, "%s: result type %d, expected a number", m.name,
               result.type);
    if (valueKnown)
      FUZZ_CHECK(result.value.intValue == expected.number, "%s gave %d, expected %d", m.name,
                 result.value.intValue, expected.number);
    return;
  }
  FUZZ_CHECK(result.type == NPVariantType_String, "%s: result type %d, expected a string", m.name,
             result.type);
  std::string text = StringOf(result);
  FUZZ_CHECK(text.find('\0') == std::string::npos, "%s: a byte 0 inside the text", m.name);
  if (valueKnown)
    FUZZ_CHECK(text == expected.text, "%s gave \"%s\", expected \"%s\"", m.name, text.c_str(),
               expected.text.c_str());
}

void OneCall(fuzz::Reader& in) {
  Browser& b = B();
  const auto& api = Api();
  const std::size_t pick = in.Byte() % (api.size() + 1);
  const ApiMethod* m = pick < api.size() ? &api[pick] : nullptr;
  // An identifier is a C string: a name with a byte 0 is its text before it.
  std::string name = m ? m->name : in.Text();
  name.resize(std::strlen(name.c_str()));
  const bool onOrphan = in.Byte() % 8 == 0;
  const uint8_t countByte = in.Byte();
  std::size_t count = countByte % 4;
  if (m && countByte < 0xC0) count = m->kinds.size();  // mostly the right count

  Arguments args;
  for (std::size_t i = 0; i < count; ++i) args.Add(in);

  bool forced = in.Byte() & 1;
  std::string reply = forced ? in.Text() : "E";
  if (forced) quvstub::SetReply(name, reply, 1);
  quvstub::ClearJournal();

  NPVariant result = tb::Void();
  quvstub::TakeLog();
  bool answered = tb::Invoke(onOrphan ? b.orphan : b.tv, name, args.values, &result);
  const std::size_t records = ArgumentRecords();
  std::vector<quvstub::JournalEntry> journal = quvstub::Journal();
  quvstub::ClearReplies();

  if (!m) {
    bool known = false;
    for (const auto& row : api) known |= name == row.name;
    FUZZ_CHECK(known || (!answered && result.type == NPVariantType_Void && journal.empty()),
               "unknown method \"%s\" answered %d", name.c_str(), answered);
    tb::ReleaseValue(&result);
    return;  // a name that happens to be a method's: the rows check those
  }

  const bool countOk = m->kinds.size() == 1 && m->kinds[0] == "item" ? true
                                                                     : count == m->kinds.size();
  FUZZ_CHECK(answered == countOk, "%s with %zu arguments answered %d", m->name, count, answered);
  if (!answered) {
    FUZZ_CHECK(result.type == NPVariantType_Void, "%s refused but set a result", m->name);
    FUZZ_CHECK(records == 0, "%s refused but recorded %zu unusable arguments", m->name, records);
    FUZZ_CHECK(journal.empty(), "%s refused but sent a command", m->name);
    return;
  }

  const bool asks = !onOrphan && !m->local;
  if (asks) {
    FUZZ_CHECK(journal.size() == 1, "%s sent %zu commands", m->name, journal.size());
    std::vector<std::string> expected = {name, "0", "0", "0", "0"};
    for (std::size_t i = 0; i < m->kinds.size(); ++i) expected[i + 1] = SlotText(m->kinds[i], args.values[i]);
    const auto& texts = journal[0].texts;
    FUZZ_CHECK(texts == expected, "%s: the framework received %zu texts [%s|%s|%s|%s|%s]", m->name,
               texts.size(), texts.size() > 0 ? texts[0].c_str() : "", texts.size() > 1 ? texts[1].c_str() : "",
               texts.size() > 2 ? texts[2].c_str() : "", texts.size() > 3 ? texts[3].c_str() : "",
               texts.size() > 4 ? texts[4].c_str() : "");
  } else {
    FUZZ_CHECK(journal.empty(), "%s sent a command though it asks the TV nothing here", m->name);
  }

  Value expected{false, "", 0};
  bool known = true;
  if (onOrphan) {
    expected = Literal(m->fallback);
  } else if (m->local) {
    if (m->kinds.size() == 1 && m->kinds[0] == "item")
      expected = {true, count >= 1 && (args.values[0].type == NPVariantType_Int32 ||
                                       args.values[0].type == NPVariantType_Double) &&
                                Number(args.values[0]) == 0
                            ? "TV-0017"
                            : "",
                  0};
    else
      expected = Literal(m->fallback);
  } else if (!reply.empty() && reply[0] == 'E') {
    expected = Literal(m->onError);
  } else {
    known = false;
  }
  CheckResult(*m, result, expected, known);
  std::size_t unusable = 0;
  for (std::size_t i = 0; i < m->kinds.size() && i < count; ++i)
    unusable += Unusable(m->kinds[i], args.values[i]);
  if (m->kinds.size() == 1 && m->kinds[0] == "item") unusable = count == 0;
  FUZZ_CHECK(records == unusable, "%s: %zu records of unusable arguments, %zu expected", m->name,
             records, unusable);
  tb::ReleaseValue(&result);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Browser& b = B();
  fuzz::Reader in(data, size);
  for (int calls = 0; calls < 8 && !in.empty(); ++calls) OneCall(in);
  quvstub::TakeLog();
  FUZZ_CHECK(tb::LiveObjects() == b.objects, "%zu objects alive, %zu before", tb::LiveObjects(),
             b.objects);
  FUZZ_CHECK(tb::RefCount(b.tv) == b.tvRefs && tb::RefCount(b.orphan) == b.orphanRefs,
             "TV object references %u and %u, %u and %u before", tb::RefCount(b.tv),
             tb::RefCount(b.orphan), b.tvRefs, b.orphanRefs);
  FUZZ_CHECK(tb::OpenAllocations() == b.allocations, "%zu NPN_MemAlloc blocks open, %zu before",
             tb::OpenAllocations(), b.allocations);
  FUZZ_CHECK(tb::Misuses().empty(), "the browser saw misuse: %s", tb::Misuses()[0].c_str());
  FUZZ_CHECK(quvstub::Misuses().empty(), "the framework saw misuse: %s", quvstub::Misuses()[0].c_str());
  return 0;
}
