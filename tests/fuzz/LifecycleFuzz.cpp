// Fuzz target: up to three instances, their OnEvent handlers and the event
// path: create, destroy, drop the page's TV object, set OnEvent (function,
// name, other types), read it back, raise an event (texts up to 1 MiB), pump
// the main-thread queue, call a method. A model follows which instances live
// and which handler each holds. At every pump the handlers that ran are the
// model's (none of a destroyed instance); a function gets the texts up to
// their first byte 0, a name handler's script is name("p1","p2"); (quoted
// literals with NPTV_QUOTE_EVENT_TEXTS); OnEvent reads back what was set; at
// the end no object, reference, block or connection is left, and no misuse.
#include <algorithm>
#include <cstring>
#include <tuple>
#include <memory>
#include <vector>

#include <quvstub/Control.h>

#include "Fuzz.h"
#include "TestBrowser.h"
#include "bridge/ScriptText.h"
#include "module/NPEntry.h"
#include "script/ScriptablePluginObject.h"

namespace tb = testbrowser;

namespace {

constexpr int kSlots = 3;

struct Slot {
  NPP npp = nullptr;          // alive while not null
  NPObject* tv = nullptr;     // the page's reference to the TV object
  NPObject* function = nullptr;  // the function handler (the model holds a reference)
  std::string name;           // the name handler, up to its first byte 0
  bool hasName = false;
};

struct Event {
  std::string p1, p2;       // as the page receives them: up to the first byte 0
  std::vector<NPP> queued;  // the instances alive when it was raised
};

// A handler call the model expects or the browser recorded, comparable.
struct Call {
  NPP npp;
  NPObject* function;  // null for an evaluated name
  std::string text;    // the two texts joined with a byte 0, or the script
  bool operator<(const Call& o) const {
    return std::tie(npp, function, text) < std::tie(o.npp, o.function, o.text);
  }
  bool operator==(const Call& o) const {
    return npp == o.npp && function == o.function && text == o.text;
  }
};

std::string UpToNul(const std::string& s) { return s.substr(0, s.find('\0')); }

// The call text the model expects of a name handler.
std::string ExpectedNameCall(const std::string& name, const std::string& p1,
                             const std::string& p2) {
#if NPTV_QUOTE_EVENT_TEXTS
  auto literal = [](const std::string& text) {
    std::string out(NSPlTV::QuotedLength(text.data(), text.size()), '\0');
    NSPlTV::WriteQuoted(&out[0], text.data(), text.size());
    return out;
  };
  return name + "(" + literal(p1) + "," + literal(p2) + ");";
#else
  return name + "(\"" + p1 + "\",\"" + p2 + "\");";
#endif
}

class Script {
 public:
  Script() : host_(tb::Entries{NP_GetMIMEDescription, NP_GetValue, NP_Initialize, NP_Shutdown}) {
    FUZZ_CHECK(host_.Initialize() == NPERR_NO_ERROR, "NP_Initialize failed");
  }

  void Run(fuzz::Reader& in) {
    for (int ops = 0; ops < 64 && !in.empty(); ++ops) {
      Slot& s = slots_[in.Byte() % kSlots];
      switch (in.Byte() % 10) {
        case 0: Create(s); break;
        case 1: Destroy(s); break;
        case 2: DropObject(s); break;
        case 3: SetFunction(s); break;
        case 4: SetName(s, in.Text()); break;
        case 5: SetOther(s, in); break;
        case 6: ReadBack(s); break;
        case 7: Raise(in); break;
        case 8: Pump(); break;
        default: CallMethod(s, in); break;
      }
    }
    Finish();
  }

 private:
  void Create(Slot& s) {
    if (s.npp) return;
    NPError error = NPERR_GENERIC_ERROR;
    s.npp = host_.New(&error);
    FUZZ_CHECK(error == NPERR_NO_ERROR && s.npp, "NPP_New failed: %d", error);
    DropObject(s);
    s.tv = host_.ScriptObject(s.npp);
    FUZZ_CHECK(s.tv != nullptr, "no TV object");
    ForgetHandlers(s);
  }

  void Destroy(Slot& s) {
    if (!s.npp) return;
    FUZZ_CHECK(host_.Destroy(s.npp) == NPERR_NO_ERROR, "NPP_Destroy failed");
    s.npp = nullptr;
    ForgetHandlers(s);
  }

  void DropObject(Slot& s) {
    if (s.tv) tb::Release(s.tv);
    s.tv = nullptr;
  }

  void ForgetHandlers(Slot& s) {
    if (s.function) tb::Release(s.function);
    s.function = nullptr;
    s.name.clear();
    s.hasName = false;
  }

  // A property set on a TV object whose instance is gone is refused.
  bool Set(Slot& s, const NPVariant& value) {
    if (!s.tv) return false;
    bool ok = tb::SetProperty(s.tv, "OnEvent", value);
    FUZZ_CHECK(ok == (s.npp != nullptr), "OnEvent set answered %d on a %s instance", ok,
               s.npp ? "live" : "destroyed");
    return ok;
  }

  void SetFunction(Slot& s) {
    NPObject* f = tb::NewFunction();
    if (Set(s, tb::Object(f))) {
      if (s.function) tb::Release(s.function);
      s.function = f;  // the model keeps the creation reference
    } else {
      tb::Release(f);
    }
  }

  void SetName(Slot& s, const std::string& name) {
    // The caller's own exactly-sized bytes, with nothing after them.
    std::unique_ptr<char[]> bytes(new char[name.size() ? name.size() : 1]);
    std::memcpy(bytes.get(), name.data(), name.size());
    NPVariant v;
    STRINGN_TO_NPVARIANT(bytes.get(), static_cast<uint32_t>(name.size()), v);
    if (Set(s, v)) {
      s.name = UpToNul(name);
      s.hasName = true;
    }
  }

  void SetOther(Slot& s, fuzz::Reader& in) {
    NPVariant v;
    switch (in.Byte() % 5) {
      case 0: v = tb::Void(); break;
      case 1: v = tb::Null(); break;
      case 2: v = tb::Bool(true); break;
      case 3: v = tb::Int(static_cast<int32_t>(in.U32())); break;
      default: v = tb::Double(in.Double()); break;
    }
    Set(s, v);  // accepted and ignored: the handlers stay
  }

  void ReadBack(Slot& s) {
    if (!s.tv) return;
    NPVariant v = tb::Void();
    bool ok = tb::GetProperty(s.tv, "OnEvent", &v);
    FUZZ_CHECK(ok == (s.npp != nullptr), "OnEvent read answered %d", ok);
    if (!ok) return;
    if (s.hasName) {
      FUZZ_CHECK(v.type == NPVariantType_String && tb::Text(v) == s.name,
                 "OnEvent read back type %d, expected the name", v.type);
    } else if (s.function) {
      FUZZ_CHECK(v.type == NPVariantType_Object && v.value.objectValue == s.function,
                 "OnEvent read back type %d, expected the function", v.type);
    } else {
      FUZZ_CHECK(v.type == NPVariantType_Void, "OnEvent read back type %d, expected nothing",
                 v.type);
    }
    tb::ReleaseValue(&v);
  }

  void Raise(fuzz::Reader& in) {
    uint8_t how = in.Byte();
    int type = how & 1 ? 0 : static_cast<int>(in.U32());  // only type 0 reaches the page
    std::string p1 = in.Text(), p2 = in.Text();
    if (how == 0xFF && !p1.empty())  // the largest texts: 1 MiB
      while (p1.size() < (1u << 20)) p1 += p1;
    std::size_t open = 0;
    for (const Slot& s : slots_) open += s.npp != nullptr;
    std::size_t queued = quvstub::RaiseEvent(type, p1, p2);
    FUZZ_CHECK(queued == open, "event queued for %zu connections, %zu instances alive", queued,
               open);
    if (type != 0) return;
    pending_.push_back({UpToNul(p1), UpToNul(p2), {}});
    for (const Slot& s : slots_)
      if (s.npp) pending_.back().queued.push_back(s.npp);
  }

  void Pump() {
    quvstub::WaitForEvents();
    // Expected: every pending event, for each instance alive when it was
    // raised and still, with the handler it holds now.
    std::vector<Call> expected;
    for (const Event& e : pending_)
      for (const Slot& s : slots_) {
        if (!s.npp || std::find(e.queued.begin(), e.queued.end(), s.npp) == e.queued.end())
          continue;
        if (s.function)
          expected.push_back({s.npp, s.function, e.p1 + '\0' + e.p2});
        else if (s.hasName)
          expected.push_back({s.npp, nullptr, ExpectedNameCall(s.name, e.p1, e.p2)});
      }
    pending_.clear();
    tb::PumpAsyncCalls();

    std::vector<Call> seen;
    auto invokes = tb::InvokeDefaultCalls();
    for (std::size_t i = invokesSeen_; i < invokes.size(); ++i) {
      const auto& c = invokes[i];
      FUZZ_CHECK(c.args.size() == 2 && c.types.size() == 2 &&
                     c.types[0] == NPVariantType_String && c.types[1] == NPVariantType_String,
                 "a function handler got %zu arguments", c.args.size());
      seen.push_back({c.npp, c.object, c.args[0] + '\0' + c.args[1]});
    }
    invokesSeen_ = invokes.size();
    auto evaluates = tb::EvaluateCalls();
    for (std::size_t i = evaluatesSeen_; i < evaluates.size(); ++i) {
      const auto& c = evaluates[i];
      FUZZ_CHECK(c.object == tb::WindowObject(), "a name handler evaluated on another object");
      seen.push_back({c.npp, nullptr, c.script});
    }
    evaluatesSeen_ = evaluates.size();

    for (const Call& c : seen) {
      bool alive = false;
      for (const Slot& s : slots_) alive |= s.npp == c.npp;
      FUZZ_CHECK(alive, "a handler of a destroyed instance ran");
    }
    std::sort(expected.begin(), expected.end());
    std::sort(seen.begin(), seen.end());
    FUZZ_CHECK(seen == expected, "%zu handler calls, %zu expected%s", seen.size(),
               expected.size(),
               seen.size() == expected.size() ? " (a text or target differs)" : "");
  }

  void CallMethod(Slot& s, fuzz::Reader& in) {
    if (!s.tv) return;
    const char* name = MethodName(in.Byte() % kMethodCount);
    std::vector<NPVariant> args;
    for (int i = in.Byte() % 3; i > 0; --i) args.push_back(tb::Int(static_cast<int32_t>(in.U32())));
    NPVariant result = tb::Void();
    tb::Invoke(s.tv, name, args, &result);
    tb::ReleaseValue(&result);
  }

  void Finish() {
    for (Slot& s : slots_) {
      Destroy(s);
      DropObject(s);
    }
    quvstub::WaitForEvents();
    tb::PumpAsyncCalls();
    const auto invokes = tb::InvokeDefaultCalls().size(), evaluates = tb::EvaluateCalls().size();
    FUZZ_CHECK(invokes == invokesSeen_ && evaluates == evaluatesSeen_,
               "handlers ran after every instance was destroyed");
  }

  tb::Host host_;
  Slot slots_[kSlots];
  std::vector<Event> pending_;
  std::size_t invokesSeen_ = 0, evaluatesSeen_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static bool once = [] {
    quvstub::Reset();
    quvstub::UseSimulator(false);
    quvstub::CaptureLog(true);
    return true;
  }();
  (void)once;
  tb::Reset();  // no instance is alive between inputs: records and queue emptied
  const std::size_t objects = tb::LiveObjects();
  {
    fuzz::Reader in(data, size);
    Script script;
    script.Run(in);
  }
  quvstub::TakeLog();
  FUZZ_CHECK(tb::LiveObjects() == objects, "%zu objects alive, %zu before", tb::LiveObjects(),
             objects);
  FUZZ_CHECK(tb::RefCount(tb::WindowObject()) == 1, "the window object has %u references",
             tb::RefCount(tb::WindowObject()));
  FUZZ_CHECK(tb::OpenAllocations() == 0, "%zu NPN_MemAlloc blocks open", tb::OpenAllocations());
  FUZZ_CHECK(tb::Misuses().empty(), "the browser saw misuse: %s", tb::Misuses()[0].c_str());
  FUZZ_CHECK(quvstub::Misuses().empty(), "the framework saw misuse: %s", quvstub::Misuses()[0].c_str());
  FUZZ_CHECK(quvstub::Connections().empty(), "%zu framework connections left",
             quvstub::Connections().size());
  return 0;
}
