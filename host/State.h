// The host's shared state, for its own files only (Browser.cpp: the entries
// and identifiers; Queue.cpp: what the browser answers, hooks, the queue;
// Script.cpp: script on the host's side). Not for users.
#ifndef NPTV_HOST_STATE_H
#define NPTV_HOST_STATE_H

#include <atomic>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Browser.h"

namespace nphost {
namespace detail {

struct Identifier {
  bool isString;
  std::string text;
  int32_t number;
};

struct AsyncCall {
  NPP npp;
  void (*func)(void*);
  void* data;
};

// Interned identifiers (see kLastingIdentifiers): the lasting ones by name
// and number, then a ring of passing slots reused in turn.
struct Identifiers {
  std::unordered_map<std::string, std::unique_ptr<Identifier>> names;
  std::unordered_map<int32_t, std::unique_ptr<Identifier>> numbers;
  std::vector<std::unique_ptr<Identifier>> ring;
  std::size_t next = 0;  // the ring slot the next passing identifier takes
  std::unordered_map<std::string, Identifier*> passingNames;
  std::unordered_map<int32_t, Identifier*> passingNumbers;
};

struct State {
  std::mutex mu;
  // what the browser answers
  std::map<int, std::string> appTexts;
  std::optional<std::string> userAgent;
  bool evaluateResult = true;
  NPObject* window = nullptr;
  std::shared_ptr<const ScriptHooks> hooks = std::make_shared<ScriptHooks>();
  Identifiers ids;
  std::deque<AsyncCall> queue;
  // counts
  std::atomic<long> liveObjects{0};
  std::atomic<long> openBlocks{0};
  // the table in use
  std::atomic<const NPNetscapeFuncs*> table{nullptr};
};

State& S();

// The hooks now (a copy of the pointer, taken under the lock).
std::shared_ptr<const ScriptHooks> Hooks();

// Fills the entries of the browser's table that the plug-in has no use for
// (Unused.cpp).
void FillUnusedEntries(NPNetscapeFuncs* table);

}  // namespace detail
}  // namespace nphost

#endif
