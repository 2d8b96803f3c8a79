// The recorder: a libQuv.so that stands in front of the maker's. Every
// operation the module makes is forwarded, on the same thread and with the
// same texts, to the maker's library, which is loaded from NPTV_QUV_LIBRARY
// with its own symbols first (RTLD_DEEPBIND), so that its calls to its own
// class reach its own code and not ours of the same name. Each operation and
// its result is recorded in the trace.
//
// The maker's framework calls OnEvent on the object it was constructed on. We
// construct its object in memory of our own (a "maker object" inside our
// connection record) and then point that object's virtual table at ours, whose
// OnEvent forwards to the module's object. The maker's destructor puts its own
// table back before it runs.
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <quv/CQUVDebug.h>
#include <quv/CQuvPluginWrapper.h>

#include "Target.h"
#include "Trace.h"

namespace nptvrec {

// What tools/check-framework reads to recognise the recorder: the library it
// forwards to when NPTV_QUV_LIBRARY is not set.
__attribute__((section(".nptv_recorder"), used)) const char kRecorderTarget[] = NPTV_QUV_TRACE_TARGET;

// Everything the recorder keeps: the maker's library and the trace. Built on
// first use; never destroyed (a wrapper may outlive static destruction), the
// trace is finished at unload.
struct Recorder {
  Target target;
  std::unique_ptr<Trace> trace;
  bool secrets = false;
  std::mutex m;
  unsigned nextId = 1;

  static Recorder& Get() {
    static Recorder* r = made = new Recorder;
    return *r;
  }
  static Recorder* made;  // null until first use
  unsigned NextId() {
    std::lock_guard<std::mutex> lk(m);
    return nextId++;
  }
  void Add(unsigned conn, Kind kind, std::vector<std::string> texts, long long a = 0,
           long long b = 0, std::int64_t us = -1, std::int64_t t = -1) {
    if (!trace->On()) return;
    Record r;
    r.t = t >= 0 ? t : Trace::NowUs();
    r.thread = Trace::ThreadId();
    r.conn = conn;
    r.kind = kind;
    r.texts = std::move(texts);
    r.a = a;
    r.b = b;
    r.us = us;
    trace->Add(std::move(r));
  }

 private:
  Recorder() {
    const char* lib = std::getenv("NPTV_QUV_LIBRARY");
    std::string path = lib && *lib ? lib : NPTV_QUV_TRACE_TARGET;
    target.Load(path, reinterpret_cast<void*>(&quv::CQUVDebug::PrintLog));
    if (!target.error.empty()) std::fprintf(stderr, "nptv recorder: %s\n", target.error.c_str());
    TraceOptions o;
    const char* file = std::getenv("NPTV_QUV_TRACE");
    if (file) {
      o.path = file;
    } else {
      const char* tmp = std::getenv("TMPDIR");
      o.path = std::string(tmp && *tmp ? tmp : "/tmp") + "/nptv-quv-trace-" +
               std::to_string(getpid()) + ".jsonl";
    }
    if (const char* max = std::getenv("NPTV_QUV_TRACE_MAX")) o.maxBytes = std::strtoull(max, nullptr, 10);
    if (const char* q = std::getenv("NPTV_QUV_TRACE_QUEUE")) o.queue = std::strtoul(q, nullptr, 10);
    if (o.maxBytes < 4096) o.maxBytes = 4096;
    const char* secretsOn = std::getenv("NPTV_QUV_TRACE_SECRETS");
    secrets = secretsOn && std::strcmp(secretsOn, "1") == 0;
    trace = std::make_unique<Trace>(o, path);
  }
};

Recorder* Recorder::made = nullptr;

// At unload (or exit): what is queued is written. A process that never used
// the library (a child that inherited LD_PRELOAD) writes nothing.
__attribute__((destructor)) void FinishTrace() {
  if (Recorder::made) Recorder::made->trace->Finish();
}

// The maker's object, then what we need to reach the module's object from it.
struct Conn {
  MakerObject maker;
  quv::CQuvPluginWrapper* module = nullptr;
  unsigned id = 0;
  bool made = false;  // the maker's constructor ran
};

// Our virtual table for the maker's object: the same slots as the maker's
// class (destructor, then OnEvent).
struct ShadowBase {
  virtual ~ShadowBase() = default;
  virtual bool OnEvent(int, std::string, std::string) { return true; }
  void* impl = nullptr;
};
struct Forwarder final : ShadowBase {
  // The maker never owns the object; its destructor is ours to call.
  ~Forwarder() override = default;
  bool OnEvent(int type, std::string p1, std::string p2) override;
};

bool Forwarder::OnEvent(int type, std::string p1, std::string p2) {
  Conn* c = reinterpret_cast<Conn*>(this);
  Recorder& r = Recorder::Get();
  std::int64_t t0 = Trace::NowUs();
  r.Add(c->id, Kind::kEvent, {p1, p2}, type, 0, -1, t0);
  std::int64_t t1 = Trace::NowUs();
  bool result = c->module->OnEvent(type, std::move(p1), std::move(p2));
  std::int64_t t2 = Trace::NowUs();
  r.Add(c->id, Kind::kEventResult, {}, result, 0, t2 - t0, t2);
  // The framework's thread inside the recorder: both records made and queued.
  r.trace->NoteEventWait(t1 - t0 + Trace::NowUs() - t2);
  return result;
}

void* ForwarderTable() {
  static void* table = [] {
    Forwarder f;
    void* vptr;
    std::memcpy(&vptr, static_cast<void*>(&f), sizeof vptr);
    return vptr;
  }();
  return table;
}

Conn* ConnOf(void* impl) { return static_cast<Conn*>(impl); }

}  // namespace nptvrec

namespace quv {

using nptvrec::Conn;
using nptvrec::Kind;
using nptvrec::Recorder;
using nptvrec::Trace;

CQuvPluginWrapper::CQuvPluginWrapper(CClientAppFactory::QUV_CLIENT_TYPE type) : m_pImpl(nullptr) {
  Recorder& r = Recorder::Get();
  auto* c = new Conn;
  c->module = this;
  c->id = r.NextId();
  m_pImpl = reinterpret_cast<Impl*>(c);
  r.Add(c->id, Kind::kConstruct, {}, static_cast<int>(type));
  if (!r.target.Ok()) return;
  try {
    r.target.construct(&c->maker, static_cast<int>(type));
  } catch (...) {
    delete c;
    throw;
  }
  c->made = true;
  void* table = nptvrec::ForwarderTable();
  std::memcpy(static_cast<void*>(&c->maker), &table, sizeof table);
}

CQuvPluginWrapper::~CQuvPluginWrapper() {
  Recorder& r = Recorder::Get();
  Conn* c = nptvrec::ConnOf(m_pImpl);
  std::int64_t t0 = Trace::NowUs();
  if (c->made) r.target.destroy(&c->maker);
  r.Add(c->id, Kind::kDestroy, {}, 0, 0, Trace::NowUs() - t0, t0);
  delete c;
}

bool CQuvPluginWrapper::OnEvent(int type, std::string p1, std::string p2) {
  // Only reached when the module's class does not override it (or calls it):
  // the maker's own base version answers.
  Conn* c = nptvrec::ConnOf(m_pImpl);
  Recorder& r = Recorder::Get();
  if (!c->made || !r.target.onEvent) return true;
  return (c->maker.*r.target.onEvent)(type, std::move(p1), std::move(p2));
}

bool CQuvPluginWrapper::Open(std::string name, std::string version, std::string credential) {
  Recorder& r = Recorder::Get();
  Conn* c = nptvrec::ConnOf(m_pImpl);
  std::vector<std::string> texts{name, version, credential};
  std::int64_t t0 = Trace::NowUs();
  bool ok = c->made && (c->maker.*r.target.open)(std::move(name), std::move(version),
                                                  std::move(credential));
  r.Add(c->id, Kind::kOpen, std::move(texts), ok, 0, Trace::NowUs() - t0, t0);
  return ok;
}

void CQuvPluginWrapper::Close() {
  Recorder& r = Recorder::Get();
  Conn* c = nptvrec::ConnOf(m_pImpl);
  std::int64_t t0 = Trace::NowUs();
  if (c->made) (c->maker.*r.target.close)();
  r.Add(c->id, Kind::kClose, {}, 0, 0, Trace::NowUs() - t0, t0);
}

namespace {
// Records the command, asks the maker's library, records the reply.
template <typename Call>
std::string Forward(Conn* c, std::vector<std::string> texts, Call call) {
  Recorder& r = Recorder::Get();
  if (!r.secrets && texts.size() > 1 && texts[0] == "IsValidPassword") {
    texts[1].clear();
    if (r.trace->On()) {
      nptvrec::Record rec;
      rec.t = Trace::NowUs();
      rec.thread = Trace::ThreadId();
      rec.conn = c->id;
      rec.kind = Kind::kExecute;
      rec.texts = std::move(texts);
      rec.redacted = 1;
      r.trace->Add(std::move(rec));
    }
  } else {
    r.Add(c->id, Kind::kExecute, std::move(texts));
  }
  std::int64_t t0 = Trace::NowUs();
  std::string reply = c->made ? call() : std::string("E");
  r.Add(c->id, Kind::kReply, {reply}, 0, 0, Trace::NowUs() - t0);
  return reply;
}
}  // namespace

std::string CQuvPluginWrapper::Execute(std::string name, std::string p1, std::string p2,
                                       std::string p3, std::string p4) {
  Conn* c = nptvrec::ConnOf(m_pImpl);
  return Forward(c, {name, p1, p2, p3, p4}, [&] {
    return (c->maker.*Recorder::Get().target.execute5)(std::move(name), std::move(p1), std::move(p2),
                                                       std::move(p3), std::move(p4));
  });
}

std::string CQuvPluginWrapper::Execute(std::string name, std::string p1, std::string p2,
                                       std::string p3, std::string p4, std::string p5,
                                       std::string p6, std::string p7, std::string p8,
                                       std::string p9, std::string p10) {
  Conn* c = nptvrec::ConnOf(m_pImpl);
  return Forward(c, {name, p1, p2, p3, p4, p5, p6, p7, p8, p9, p10}, [&] {
    return (c->maker.*Recorder::Get().target.execute11)(
        std::move(name), std::move(p1), std::move(p2), std::move(p3), std::move(p4),
        std::move(p5), std::move(p6), std::move(p7), std::move(p8), std::move(p9),
        std::move(p10));
  });
}

// The maker's log takes a format and its values; the values cannot be passed
// on as they came, so the maker's log is given the formatted text with "%s":
// it writes the same text.
void CQUVDebug::PrintLog(unsigned int module, unsigned int level, const char* format, ...) {
  char small[512];
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(small, sizeof small, format ? format : "", ap);
  va_end(ap);
  std::string text;
  if (n >= 0 && static_cast<std::size_t>(n) < sizeof small) {
    text.assign(small, n);
  } else if (n > 0) {
    text.resize(n);
    va_start(ap, format);
    std::vsnprintf(&text[0], text.size() + 1, format, ap);
    va_end(ap);
  }
  Recorder& r = Recorder::Get();
  if (r.target.printLog) r.target.printLog(module, level, "%s", text.c_str());
  r.Add(0, Kind::kLog, {std::move(text)}, module, level);
}

}  // namespace quv
