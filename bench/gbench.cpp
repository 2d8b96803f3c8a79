// nptv-bench-gbench: wall-clock time per script call (Google Benchmark), for
// the same calls as the instruction counts, with the framework stand-in
// answering from a prepared reply. The default call tv() is the baseline: it
// goes through the browser's entry into the plug-in and back without reaching
// the TV, so the ratio to it is what one TV call costs on top of the floor.
//
// The stand-in's command journal is emptied every 4096 calls in every
// benchmark alike, so that it never grows large.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include <quv/CQuvPluginWrapper.h>
#include <quvstub/Control.h>

#include "cases.h"
#include "host.h"

namespace {

benchhost::Instance gInstance;

void BM_Call(benchmark::State& state, const benchcases::Case* c) {
  benchcases::Prepare(*c);
  std::string why;
  if (!benchcases::CallAndCheck(gInstance, *c, &why)) {
    state.SkipWithError(why.c_str());
    return;
  }
  NPIdentifier id = benchhost::Id(c->key.c_str());
  unsigned n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(benchcases::CallOnce(gInstance, id, *c));
    if ((++n & 4095) == 0) quvstub::ClearJournal();
  }
  quvstub::ClearJournal();
}

void BM_QuvExecute(benchmark::State& state) {
  quv::CQuvPluginWrapper wrapper(quv::CClientAppFactory::QUV_CLIENT_TYPE_PLUGIN);
  wrapper.Open("TV", "1.0", "TV|widgetpath|/opt/widgets/bench");
  quvstub::ClearReplies();
  quvstub::SetReply("GetCountry", "I3", -1);
  unsigned n = 0;
  for (auto _ : state) {
    std::string r = wrapper.Execute("GetCountry", std::to_string(0), std::to_string(0),
                                    std::to_string(0), std::to_string(0));
    benchmark::DoNotOptimize(r.data());
    if ((++n & 4095) == 0) quvstub::ClearJournal();
  }
  quvstub::ClearJournal();
  wrapper.Close();
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!benchhost::Start()) return 1;
  quvstub::UseSimulator(false);
  gInstance = benchhost::NewInstance();
  if (!gInstance.npp) return 1;
  for (const benchcases::Case& c : benchcases::Cases())
    benchmark::RegisterBenchmark(("call/" + c.key).c_str(), BM_Call, &c);
  benchmark::RegisterBenchmark("call/quv-execute", BM_QuvExecute);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  benchhost::DestroyInstance(gInstance);
  return 0;
}
