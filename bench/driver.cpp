// nptv-bench-driver: loads libnptv.so into the thin host and runs fixed loops
// whose instruction counts tools/run-bench.sh reads with callgrind.
//
//   nptv-bench-driver check                 every case once, results checked
//   nptv-bench-driver calls N [KEY...]      per-call loops (figure 1)
//   nptv-bench-driver instance N            NPP_New / NPP_Destroy loops (figure 4)
//   nptv-bench-driver heap K                heap held by K live instances (figure 4)
//   nptv-bench-driver events N fn|name      N events through OnEvent to a handler
//
// "calls" and "instance" mark each measured loop as a callgrind region: run
// under `valgrind --tool=callgrind --collect-atstart=no` every loop is dumped
// on its own, labelled "<figure>:<key>:<iterations>". Each loop runs for N and
// for 2N iterations; the per-iteration count is the difference divided by N,
// which cancels what a region costs once. Outside valgrind the regions do
// nothing and the loops just run (the smoke run).
//
// "events" is measured as a whole process (the framework thread's share
// included): run it for N and 2N and take the difference.
//
// Every mode checks what it measures (the script result, the delivered count)
// and exits non-zero when something is wrong, so a broken module cannot give a
// figure.
#include <malloc.h>
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <quv/CQuvPluginWrapper.h>
#include <quvstub/Control.h>

#include "cases.h"
#include "host.h"

using benchcases::Case;
using benchhost::Instance;

namespace {

int Fail(const std::string& why) {
  std::fprintf(stderr, "nptv-bench-driver: %s\n", why.c_str());
  return 1;
}

// One callgrind region: only the body is collected, then dumped under `label`.
template <typename F>
void Region(const std::string& label, F&& body) {
  CALLGRIND_ZERO_STATS;
  CALLGRIND_TOGGLE_COLLECT;
  body();
  CALLGRIND_TOGGLE_COLLECT;
  CALLGRIND_DUMP_STATS_AT(label.c_str());
  std::printf("region %s\n", label.c_str());
}

bool CheckCase(const Instance& inst, const Case& c) {
  benchcases::Prepare(c);
  std::string why;
  bool ok = benchcases::CallAndCheck(inst, c, &why);
  if (ok)
    std::printf("ok %s\n", c.call.c_str());
  else
    std::printf("FAILED %s\n", why.c_str());
  return ok;
}

// Loops of one call. Before the measured loops the warm-up goes once round
// the stand-in's journal (a ring of reused slots), so that the loops measure
// its steady state, as in a browser that has been running for a while.
constexpr long kWarmCalls = 5000;
__attribute__((noinline)) void CallLoop(const Instance& inst, NPIdentifier id, const Case& c,
                                        long n, long* failures) {
  long bad = 0;
  for (long i = 0; i < n; ++i)
    if (!benchcases::CallOnce(inst, id, c)) ++bad;
  *failures += bad;
}

int ModeCalls(long n, const std::vector<std::string>& keys) {
  Instance inst = benchhost::NewInstance();
  if (!inst.npp) return Fail("no instance");
  long failures = 0;
  for (const Case& c : benchcases::Cases()) {
    if (!keys.empty()) {
      bool wanted = false;
      for (const auto& k : keys) wanted |= k == c.key;
      if (!wanted) continue;
    }
    if (!CheckCase(inst, c)) return Fail("wrong result, no figure for " + c.key);
    NPIdentifier id = benchhost::Id(c.key.c_str());
    CallLoop(inst, id, c, kWarmCalls, &failures);  // lazy binding, caches, the journal
    for (long iters : {n, 2 * n}) {
      quvstub::ClearJournal();  // keeps the ring's slots; a growing journal would not grow here
      Region("call:" + c.key + ":" + std::to_string(iters),
             [&] { CallLoop(inst, id, c, iters, &failures); });
    }
  }
  // The stand-in's own share: the five-text Execute answered from the prepared
  // reply, the five argument texts built as the bridge builds them.
  {
    quv::CQuvPluginWrapper wrapper(quv::CClientAppFactory::QUV_CLIENT_TYPE_PLUGIN);
    wrapper.Open("TV", "1.0", "TV|widgetpath|/opt/widgets/bench");
    quvstub::ClearReplies();
    quvstub::SetReply("GetCountry", "I3", -1);
    std::string reply = wrapper.Execute("GetCountry", "0", "0", "0", "0");
    if (reply != "I3") return Fail("the stand-in did not give the prepared reply: " + reply);
    auto loop = [&](long iters) {
      for (long i = 0; i < iters; ++i) {
        std::string r = wrapper.Execute("GetCountry", std::to_string(0), std::to_string(0),
                                        std::to_string(0), std::to_string(0));
        if (r.size() != 2) ++failures;
      }
    };
    loop(kWarmCalls);
    for (long iters : {n, 2 * n}) {
      quvstub::ClearJournal();
      Region("call:quv-execute:" + std::to_string(iters), [&] { loop(iters); });
    }
    wrapper.Close();
  }
  benchhost::DestroyInstance(inst);
  if (failures) return Fail(std::to_string(failures) + " calls failed inside the loops");
  return 0;
}

__attribute__((noinline)) void NewLoop(long n, std::vector<Instance>* out) {
  for (long i = 0; i < n; ++i) out->push_back(benchhost::NewInstance());
}
__attribute__((noinline)) void DestroyLoop(std::vector<Instance>* all) {
  for (Instance& inst : *all) benchhost::DestroyInstance(inst);
  all->clear();
}

int ModeInstance(long n) {
  // Instances are created one at a time, as a page does: each is destroyed
  // before the next is made, in a loop whose other half is not collected.
  for (long iters : {1L, n, 2 * n}) {  // the first pass warms up
    long made = 0;
    std::vector<Instance> one;
    one.reserve(1);
    CALLGRIND_ZERO_STATS;
    for (long i = 0; i < iters; ++i) {
      CALLGRIND_TOGGLE_COLLECT;
      NewLoop(1, &one);
      CALLGRIND_TOGGLE_COLLECT;
      if (one.back().npp) ++made;
      DestroyLoop(&one);
    }
    if (iters != 1) {
      CALLGRIND_DUMP_STATS_AT(("new:" + std::to_string(iters)).c_str());
      std::printf("region new:%ld\n", iters);
    }
    CALLGRIND_ZERO_STATS;
    for (long i = 0; i < iters; ++i) {
      NewLoop(1, &one);
      if (one.back().npp) ++made;
      CALLGRIND_TOGGLE_COLLECT;
      DestroyLoop(&one);
      CALLGRIND_TOGGLE_COLLECT;
    }
    if (iters != 1) {
      CALLGRIND_DUMP_STATS_AT(("destroy:" + std::to_string(iters)).c_str());
      std::printf("region destroy:%ld\n", iters);
    }
    quvstub::ClearJournal();
    if (made != 2 * iters) return Fail("instances could not be created");
  }
  return 0;
}

int ModeHeap(long k) {
  // A first round of K instances made and destroyed, so that the host's
  // identifier table, every one-time allocation and the capacity of every
  // container that grows with the number of instances (in the module, the
  // host and the stand-in) are there before the measured round.
  std::vector<Instance> live;
  live.reserve(static_cast<std::size_t>(k));
  for (long i = 0; i < k; ++i) live.push_back(benchhost::NewInstance());
  for (Instance& inst : live) {
    if (!inst.npp) return Fail("no instance");
    benchhost::DestroyInstance(inst);
  }
  live.clear();
  quvstub::ClearJournal();
  struct mallinfo2 before = mallinfo2();
  for (long i = 0; i < k; ++i) {
    live.push_back(benchhost::NewInstance());
    if (!live.back().npp) return Fail("instance " + std::to_string(i) + " could not be made");
  }
  // The stand-in keeps a journal entry per command ("SetAppInfo"); the real
  // framework keeps none, so it is not counted.
  quvstub::ClearJournal();
  struct mallinfo2 after = mallinfo2();
  const double per =
      (static_cast<double>(after.uordblks) - static_cast<double>(before.uordblks)) / k;
  for (Instance& inst : live) benchhost::DestroyInstance(inst);
  quvstub::ClearJournal();
  struct mallinfo2 end = mallinfo2();

  // What the host itself keeps per instance (its NPP_t), measured the same way
  // and taken off.
  std::vector<NPP> npps(static_cast<std::size_t>(k));
  struct mallinfo2 h0 = mallinfo2();
  for (auto& p : npps) p = new NPP_t{};
  struct mallinfo2 h1 = mallinfo2();
  for (auto& p : npps) delete p;
  const double hostPer =
      (static_cast<double>(h1.uordblks) - static_cast<double>(h0.uordblks)) / k;

  // The stand-in's share: a bare connection opened with the same texts.
  std::vector<quv::CQuvPluginWrapper*> conns(static_cast<std::size_t>(k));
  for (auto& c : conns) {  // warm round, as above
    c = new quv::CQuvPluginWrapper(quv::CClientAppFactory::QUV_CLIENT_TYPE_PLUGIN);
    c->Open("TV", "1.0", "TV|widgetpath|/opt/widgets/bench");
  }
  for (auto& c : conns) delete c;
  struct mallinfo2 q0 = mallinfo2();
  for (auto& c : conns) {
    c = new quv::CQuvPluginWrapper(quv::CClientAppFactory::QUV_CLIENT_TYPE_PLUGIN);
    c->Open("TV", "1.0", "TV|widgetpath|/opt/widgets/bench");
  }
  struct mallinfo2 q1 = mallinfo2();
  for (auto& c : conns) delete c;
  const double quvPer =
      (static_cast<double>(q1.uordblks) - static_cast<double>(q0.uordblks)) / k;

  std::printf("heap instances %ld\n", k);
  std::printf("heap bytes_per_instance %.1f\n", per - hostPer);
  std::printf("heap of_which_standin_connection %.1f\n", quvPer);
  std::printf("heap host_bytes_per_instance_excluded %.1f\n", hostPer);
  std::printf("heap mmap_bytes_delta %zu\n", after.hblkhd - before.hblkhd);
  std::printf("heap bytes_left_after_destroy_per_instance %.1f\n",
              (static_cast<double>(end.uordblks) - static_cast<double>(before.uordblks)) / k);
  return 0;
}

int ModeEvents(long n, const std::string& how) {
  Instance inst = benchhost::NewInstance();
  if (!inst.npp) return Fail("no instance");
  benchhost::Handler* handler = nullptr;
  if (how == "fn") {
    handler = benchhost::NewHandler(inst.npp);
    NPVariant v;
    v.type = NPVariantType_Object;
    v.value.objectValue = handler->object;
    if (!benchhost::SetProperty(inst, "OnEvent", &v)) return Fail("OnEvent was refused");
  } else if (how == "name") {
    static const char name[] = "onTvEvent";
    NPVariant v;
    v.type = NPVariantType_String;
    v.value.stringValue.UTF8Characters = name;
    v.value.stringValue.UTF8Length = sizeof name - 1;
    if (!benchhost::SetProperty(inst, "OnEvent", &v)) return Fail("OnEvent was refused");
  } else {
    return Fail("events: say fn or name");
  }
  const std::size_t base = benchhost::QueuedTotal();
  const std::size_t evalBase = benchhost::EvaluateCount();
  for (long i = 0; i < n; ++i) {
    if (quvstub::RaiseEvent(0, std::to_string(i), "1") != 1)
      return Fail("the stand-in did not queue the event");
  }
  benchhost::RunQueuedUntil(base + static_cast<std::size_t>(n));
  quvstub::WaitForEvents();
  benchhost::RunQueued();
  std::size_t delivered = handler ? handler->calls : benchhost::EvaluateCount() - evalBase;
  std::string last = handler ? handler->lastParam1 : benchhost::LastEvaluated();
  std::printf("events raised %ld delivered %zu last %s\n", n, delivered, last.c_str());
  const std::string want = std::to_string(n - 1);
  bool lastOk = handler ? last == want : last == "onTvEvent(\"" + want + "\",\"1\");";
  benchhost::DestroyInstance(inst);
  if (handler) {
    // Our own reference from creation.
    NPObject* o = handler->object;
    if (--o->referenceCount == 0) o->_class->deallocate(o);
  }
  if (delivered != static_cast<std::size_t>(n)) return Fail("events were lost");
  if (!lastOk) return Fail("the last event delivered was not the last raised");
  return 0;
}

int ModeCheck() {
  Instance inst = benchhost::NewInstance();
  if (!inst.npp) return Fail("no instance");
  int failed = 0;
  for (const Case& c : benchcases::Cases())
    if (!CheckCase(inst, c)) ++failed;
  benchhost::DestroyInstance(inst);
  quvstub::ClearReplies();
  return failed ? Fail(std::to_string(failed) + " case(s) gave a wrong result") : 0;
}

long Count(const char* s) {
  char* end = nullptr;
  long v = std::strtol(s, &end, 10);
  if (!end || *end || v <= 0) {
    std::fprintf(stderr, "nptv-bench-driver: bad count %s\n", s);
    std::exit(2);
  }
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: nptv-bench-driver check | calls N [KEY...] | instance N | heap K | "
                 "events N fn|name\n");
    return 2;
  }
  if (!benchhost::Start()) return 1;
  quvstub::UseSimulator(false);  // a command without a prepared reply fails loudly ("E")
  std::string mode = argv[1];
  if (mode == "check") return ModeCheck();
  if (mode == "calls" && argc >= 3)
    return ModeCalls(Count(argv[2]), std::vector<std::string>(argv + 3, argv + argc));
  if (mode == "instance" && argc == 3) return ModeInstance(Count(argv[2]));
  if (mode == "heap" && argc == 3) return ModeHeap(Count(argv[2]));
  if (mode == "events" && argc == 4) return ModeEvents(Count(argv[2]), argv[3]);
  std::fprintf(stderr, "nptv-bench-driver: unknown mode or wrong arguments\n");
  return 2;
}
