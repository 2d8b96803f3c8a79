// Fuzz target: the reply decoders. An input is a capacity (two bytes, 0 to
// 4095) and the reply bytes, read by every decoder. Output buffers and the
// reply are heap blocks of exactly their size: AddressSanitizer sees any
// access past them.
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

#include "Fuzz.h"
#include "bridge/CQuvBase.h"

using NSPlTV::CQuvBase;

namespace {

constexpr unsigned char kUntouched = 0xA5;
constexpr std::size_t kTextLimit = 1024;  // the decoded UTF-8 text, terminator included

bool Marked(const std::string& reply, char marker) { return !reply.empty() && reply[0] == marker; }

// The text after the marker up to the first byte 0.
std::string AsciiText(const std::string& reply) {
  std::string rest = reply.substr(1);
  return rest.substr(0, rest.find('\0'));
}

// A 'U' reply's whole text as UTF-8: the units after the marker, the last
// dropped as terminator, up to the first 0 unit; a lone surrogate U+FFFD.
std::string FullUtf8(const std::string& reply) {
  std::size_t n = reply.size() / 2;
  std::vector<UChar> units(n ? n - 1 : 0);
  if (!units.empty()) std::memcpy(units.data(), reply.data() + 1, units.size() * sizeof(UChar));
  std::size_t count = 0;
  while (count < units.size() && units[count] != 0) ++count;
  std::string out(count * 3 + 1, '\0');
  int32_t written = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &written, units.data(),
                     static_cast<int32_t>(count), 0xFFFD, nullptr, &status);
  FUZZ_CHECK(U_SUCCESS(status), "reference conversion failed: %s", u_errorName(status));
  out.resize(static_cast<std::size_t>(written));
  return out;
}

bool ValidUtf8(const std::string& text) {
  int32_t i = 0, length = static_cast<int32_t>(text.size());
  const uint8_t* s = reinterpret_cast<const uint8_t*>(text.data());
  while (i < length) {
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) return false;
  }
  return true;
}

// A buffer of exactly `capacity` bytes, filled with kUntouched.
std::unique_ptr<unsigned char[]> Buffer(std::size_t capacity) {
  std::unique_ptr<unsigned char[]> b(new unsigned char[capacity]);
  std::memset(b.get(), kUntouched, capacity);
  return b;
}

bool Untouched(const unsigned char* b, std::size_t capacity) {
  return std::all_of(b, b + capacity, [](unsigned char c) { return c == kUntouched; });
}

// The length of the text in the buffer; the terminator must lie inside it.
std::size_t TerminatedLength(const unsigned char* b, std::size_t capacity, const char* decoder) {
  const void* end = std::memchr(b, 0, capacity);
  FUZZ_CHECK(end != nullptr, "%s: no terminator within the capacity %zu", decoder, capacity);
  return static_cast<std::size_t>(static_cast<const unsigned char*>(end) - b);
}

void CheckError(std::string reply) {
  FUZZ_CHECK(CQuvBase::IsError(reply) == Marked(reply, 'E'), "IsError of a %zu-byte reply",
             reply.size());
}

// No decoder changes the reply, and none takes a null output.
void CheckUnchanged(const std::string& reply, const std::string& original, const char* decoder) {
  FUZZ_CHECK(reply == original, "%s changed the reply", decoder);
}

void CheckInteger(std::string reply) {
  const std::string original = reply;
  int value = 0x5A5A5A5A;
  bool ok = CQuvBase::GetInteger(reply, &value);
  FUZZ_CHECK(ok == Marked(reply, 'I'), "GetInteger answered %d", ok);
  if (ok) {
    FUZZ_CHECK(value == fuzz::StrtolClamped(AsciiText(reply)), "GetInteger gave %d, strtol-then-clamp %d", value,
               fuzz::StrtolClamped(AsciiText(reply)));
  } else {
    FUZZ_CHECK(value == 0x5A5A5A5A, "GetInteger wrote %d while answering false", value);
  }
  FUZZ_CHECK(!CQuvBase::GetInteger(reply, nullptr), "GetInteger accepted a null output");
  CheckUnchanged(reply, original, "GetInteger");
}

void CheckAscii(std::string reply, std::size_t capacity) {
  const std::string original = reply;
  std::string text = "untouched";
  bool ok = CQuvBase::GetASCII(reply, text);
  FUZZ_CHECK(ok == Marked(reply, 'A'), "GetASCII (text) answered %d", ok);
  FUZZ_CHECK(text == (ok ? AsciiText(reply) : "untouched"), "GetASCII (text) gave %zu bytes",
             text.size());

  auto buffer = Buffer(capacity);
  FUZZ_CHECK(!CQuvBase::GetASCII(reply, static_cast<char*>(nullptr), capacity),
             "GetASCII accepted a null buffer");
  ok = CQuvBase::GetASCII(reply, reinterpret_cast<char*>(buffer.get()), capacity);
  CheckUnchanged(reply, original, "GetASCII");
  FUZZ_CHECK(ok == (Marked(reply, 'A') && capacity > 0), "GetASCII (buffer %zu) answered %d",
             capacity, ok);
  if (!ok) {
    FUZZ_CHECK(Untouched(buffer.get(), capacity), "GetASCII wrote while answering false");
    return;
  }
  std::size_t length = TerminatedLength(buffer.get(), capacity, "GetASCII");
  std::string expected = AsciiText(reply);
  if (expected.size() > capacity - 1) expected.resize(capacity - 1);
  FUZZ_CHECK(std::string(reinterpret_cast<char*>(buffer.get()), length) == expected,
             "GetASCII (buffer %zu) gave %zu bytes, expected the first %zu of the text", capacity,
             length, expected.size());
}

void CheckUnicode(std::string reply, std::size_t capacity) {
  const std::string original = reply;
  auto buffer = Buffer(capacity);
  FUZZ_CHECK(!CQuvBase::GetUNICODE(reply, nullptr, capacity), "GetUNICODE accepted a null buffer");
  bool ok = CQuvBase::GetUNICODE(reply, reinterpret_cast<unsigned short*>(buffer.get()), capacity);
  CheckUnchanged(reply, original, "GetUNICODE");
  FUZZ_CHECK(ok == (Marked(reply, 'U') && capacity > 0), "GetUNICODE (buffer %zu) answered %d",
             capacity, ok);
  // A 'U' reply without a single unit converts nothing and writes nothing.
  if (!ok || reply.size() < 2) {
    FUZZ_CHECK(Untouched(buffer.get(), capacity), "GetUNICODE wrote (answer %d, reply %zu bytes)",
               ok, reply.size());
    return;
  }
  std::size_t length = TerminatedLength(buffer.get(), capacity, "GetUNICODE");
  std::string text(reinterpret_cast<char*>(buffer.get()), length);
  FUZZ_CHECK(ValidUtf8(text), "GetUNICODE wrote invalid UTF-8 (%zu bytes)", length);
  std::string full = FullUtf8(reply);
  FUZZ_CHECK(full.compare(0, length, text) == 0 && length <= full.size(),
             "GetUNICODE's %zu bytes are not a prefix of the %zu-byte conversion", length,
             full.size());
  if (length < full.size()) {
    // Cut on a character boundary, only where the next does not fit before the terminator.
    const unsigned char next = static_cast<unsigned char>(full[length]);
    FUZZ_CHECK(!U8_IS_TRAIL(next), "GetUNICODE cut inside a character at %zu", length);
    std::size_t nextLength = U8_COUNT_TRAIL_BYTES(next) + 1;
    std::size_t room = (capacity < kTextLimit ? capacity : kTextLimit) - 1;
    FUZZ_CHECK(length + nextLength > room,
               "GetUNICODE stopped at %zu bytes though a %zu-byte character fits in %zu", length,
               nextLength, room);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzz::Reader in(data, size);
  std::size_t capacity = in.U16() & 0x0FFF;
  std::string bytes = in.Rest();
  // Exactly-sized heap copies: std::string(ptr, n) allocates n + 1 bytes.
  CheckError(std::string(bytes.data(), bytes.size()));
  CheckInteger(std::string(bytes.data(), bytes.size()));
  CheckAscii(std::string(bytes.data(), bytes.size()), capacity);
  CheckUnicode(std::string(bytes.data(), bytes.size()), capacity);
  return 0;
}
