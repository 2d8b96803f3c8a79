// What the browser answers, the hooks of a host that serves pages, and the
// main-thread queue of NPN_PluginThreadAsyncCall (see Browser.h).
#include <cstdint>
#include <utility>

#include "State.h"

namespace nphost {
namespace detail {

void PluginThreadAsyncCall(NPP npp, void (*func)(void*), void* data) {
  if (!func) return;
  std::shared_ptr<const ScriptHooks> hooks;
  {
    std::lock_guard<std::mutex> lock(S().mu);
    S().queue.push_back({npp, func, data});
    hooks = S().hooks;
  }
  if (hooks->queued) hooks->queued();
}

}  // namespace detail

using namespace detail;

// ---- What the browser answers ------------------------------------------------------------

void SetAppText(int variable, std::optional<std::string> text) {
  std::lock_guard<std::mutex> lock(S().mu);
  if (text)
    S().appTexts[variable] = *text;
  else
    S().appTexts.erase(variable);
}

void SetWindowObject(bool present) {
  NPObject* old;
  {
    std::lock_guard<std::mutex> lock(S().mu);
    old = S().window;
    S().window = nullptr;
  }
  if (old) Browser().releaseobject(old);
  if (present) {
    static NPClass windowClass = {NP_CLASS_STRUCT_VERSION, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr};
    NPObject* w = Browser().createobject(nullptr, &windowClass);
    std::lock_guard<std::mutex> lock(S().mu);
    S().window = w;
  }
}

NPObject* WindowObject() {
  std::lock_guard<std::mutex> lock(S().mu);
  return S().window;
}

void SetUserAgent(std::optional<std::string> agent) {
  std::lock_guard<std::mutex> lock(S().mu);
  S().userAgent = std::move(agent);
}

void SetEvaluateResult(bool ok) {
  std::lock_guard<std::mutex> lock(S().mu);
  S().evaluateResult = ok;
}

void SetScriptHooks(ScriptHooks hooks) {
  auto shared = std::make_shared<const ScriptHooks>(std::move(hooks));
  std::lock_guard<std::mutex> lock(S().mu);
  S().hooks = std::move(shared);
}

// ---- The queue ------------------------------------------------------------------------------

std::size_t PendingAsyncCalls() {
  std::lock_guard<std::mutex> lock(S().mu);
  return S().queue.size();
}

std::size_t PendingAsyncCalls(const InstanceFilter& which) {
  std::lock_guard<std::mutex> lock(S().mu);
  std::size_t n = 0;
  for (const AsyncCall& call : S().queue) n += which(call.npp) ? 1 : 0;
  return n;
}

std::size_t PumpAsyncCalls(const InstanceFilter& which) { return PumpAsyncCalls(which, nullptr); }

std::size_t PumpAsyncCalls(const InstanceFilter& which, const std::function<void(NPP)>& before) {
  std::size_t ran = 0;
  for (;;) {
    AsyncCall call;
    {
      std::lock_guard<std::mutex> lock(S().mu);
      auto it = S().queue.begin();
      while (it != S().queue.end() && !which(it->npp)) ++it;
      if (it == S().queue.end()) return ran;
      call = *it;
      S().queue.erase(it);
    }
    if (before) before(call.npp);
    call.func(call.data);
    ++ran;
  }
}

std::size_t PumpAsyncCalls(std::size_t most, const std::function<void(NPP)>& before) {
  std::size_t ran = 0;
  for (; ran < most; ++ran) {
    AsyncCall call;
    {
      std::lock_guard<std::mutex> lock(S().mu);
      if (S().queue.empty()) break;
      call = S().queue.front();
      S().queue.pop_front();
    }
    if (before) before(call.npp);
    call.func(call.data);
  }
  return ran;
}

std::size_t PumpAsyncCalls() { return PumpAsyncCalls(SIZE_MAX, nullptr); }

void DropAsyncCalls() {
  std::lock_guard<std::mutex> lock(S().mu);
  S().queue.clear();
}

}  // namespace nphost
