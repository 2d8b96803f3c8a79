// The script calls that the benchmarks measure, each with the reply that the
// framework stand-in is prepared to give and the result the script must get.
#ifndef NPTV_BENCH_CASES_H
#define NPTV_BENCH_CASES_H

#include <string>
#include <vector>

#include "host.h"

namespace benchcases {

struct Case {
  std::string key;      // short name used in reports: "GetCountry", "default"
  std::string call;     // the call as page script writes it
  std::string command;  // the framework command it sends ("" for none)
  std::string reply;    // the prepared reply to that command
  std::vector<NPVariant> args;  // string arguments point into static storage
  bool isDefault = false;       // the TV object called as a function: tv()
  // Expected script result.
  bool expectString = false;
  int expectInt = 0;
  std::string expectText;
};

// The figure-1 cases, default call first (it is the floor).
const std::vector<Case>& Cases();
const Case* Find(const std::string& key);

// A 100-character programme title with non-ASCII characters (all in the BMP,
// so 100 UTF-16 units), as UTF-8.
const std::string& Title100();

// Gives the framework stand-in the case's prepared reply, for every call.
void Prepare(const Case& c);

// One call the way the browser makes it, result released. This is the body of
// every measured loop.
inline bool CallOnce(const benchhost::Instance& inst, NPIdentifier id, const Case& c) {
  NPVariant result;
  result.type = NPVariantType_Void;
  bool ok = c.isDefault ? benchhost::InvokeDefault(inst, &result)
                        : benchhost::InvokeId(inst, id, c.args.data(),
                                              static_cast<uint32_t>(c.args.size()), &result);
  benchhost::ReleaseVariant(&result);
  return ok;
}

// One call whose result is checked against the expectation; on a mismatch
// returns false with a description in *why.
bool CallAndCheck(const benchhost::Instance& inst, const Case& c, std::string* why);

}  // namespace benchcases

#endif
