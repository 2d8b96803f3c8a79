// Between the page's JSON encoding of script values and NPAPI variants.
//   {"t":"undefined"} {"t":"null"} {"t":"boolean","v":true}
//   {"t":"int","v":5}  (an integral number in 32-bit range)
//   {"t":"double","v":1.5}  ("NaN", "Infinity", "-Infinity", "-0" as texts)
//   {"t":"string","v":"..."}
//   {"t":"object","callable":true,"h":7}  (a page object; "h", the page's
//        handle of it, only where the page wants the same object back)
// Calling a page object sends the page {"kind":"call","instance":N,"fn":H,
// "args":[...]}.
#ifndef TVBRIDGE_VARIANTS_H
#define TVBRIDGE_VARIANTS_H

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <npruntime.h>

namespace tvbridge {

class Channel;

// Variants made from a page's values; owns the texts and the objects (one
// reference each) until destroyed.
class Arguments {
 public:
  Arguments() = default;
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;
  ~Arguments();

  // Appends one value; throws Refusal naming `what` when the encoding is bad.
  // Objects with a handle call back into `channel` when invoked, for the
  // page's `instance`.
  void Add(const nlohmann::json& value, const std::string& what,
           const std::shared_ptr<Channel>& channel, long long instance);
  const std::vector<NPVariant>& values() const { return m_values; }

 private:
  std::vector<NPVariant> m_values;
  std::vector<std::unique_ptr<std::string>> m_texts;
};

// The page's encoding of a variant the module answered. An object the page
// gave (with its handle) comes back as that handle; any other as a plain
// object.
nlohmann::json Encode(const NPVariant& value, const std::shared_ptr<Channel>& channel);

}  // namespace tvbridge

#endif
