// Reply decoding. A reply's first byte is its marker: 'E' error, 'I' decimal
// integer, 'A' ASCII text, 'U' UTF-16 text (units in the machine's byte
// order, the last unit being the terminator). The empty reply counts as one
// whose marker is the byte 0.
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "bridge/CQuvBase.h"

namespace NSPlTV {

namespace {

// The decoded UTF-8 text is limited to this many bytes, terminator included.
constexpr std::size_t kUtf8Limit = 1024;

bool HasMarker(const std::string& reply, char marker) {
  return !reply.empty() && reply[0] == marker;
}

// The 'A' text: the bytes after the marker up to the first byte 0 or the end.
std::size_t AsciiLength(const std::string& reply) {
  std::size_t end = reply.find('\0', 1);
  return (end == std::string::npos ? reply.size() : end) - 1;
}

}  // namespace

bool CQuvBase::IsError(std::string& reply) { return HasMarker(reply, 'E'); }

bool CQuvBase::GetInteger(std::string& reply, int* value) {
  if (!value || !HasMarker(reply, 'I')) return false;
  // strtoll stops at the first byte that is not part of the number, and the
  // string's own terminator (or an embedded byte 0) is such a byte. The
  // result is clamped to 32 bits whatever the width of long on this machine.
  long long number = std::strtoll(reply.c_str() + 1, nullptr, 10);
  if (number > INT32_MAX) number = INT32_MAX;
  if (number < INT32_MIN) number = INT32_MIN;
  *value = static_cast<int>(number);
  return true;
}

bool CQuvBase::GetASCII(std::string& reply, std::string& text) {
  if (!HasMarker(reply, 'A')) return false;
  text.assign(reply, 1, AsciiLength(reply));
  return true;
}

bool CQuvBase::GetASCII(std::string& reply, char* buffer, std::size_t capacity) {
  if (!buffer || capacity == 0 || !HasMarker(reply, 'A')) return false;
  std::size_t length = AsciiLength(reply);
  if (length > capacity - 1) length = capacity - 1;
  std::memcpy(buffer, reply.data() + 1, length);
  buffer[length] = '\0';
  return true;
}

bool CQuvBase::GetUNICODE(std::string& reply, unsigned short* buffer, std::size_t capacity) {
  if (!buffer || capacity == 0 || !HasMarker(reply, 'U')) return false;
  // n units in all, marker included in the count; unit n-1 is the terminator
  // whatever it holds, so a stray odd byte at the end is dropped too.
  std::size_t n = reply.size() / 2;
  if (n == 0) return true;  // no unit at all: nothing to write
  std::size_t textUnits = n - 1;

  // Every unit before the first 0 unit yields at least one byte of UTF-8, so
  // no more than kUtf8Limit units can ever matter.
  const std::size_t count = textUnits < kUtf8Limit ? textUnits : kUtf8Limit;
  // Units are not aligned in the reply: each is read with memcpy.
  const char* in = reply.data() + 1;
  const char* const inEnd = in + 2 * count;
  auto unitAt = [](const char* at) {
    UChar u;
    std::memcpy(&u, at, sizeof u);
    return u;
  };

  // One pass: each character goes straight into the caller's buffer while
  // its whole UTF-8 form fits before the terminator; an unpaired surrogate
  // becomes U+FFFD.
  const std::size_t room = (capacity < kUtf8Limit ? capacity : kUtf8Limit) - 1;
  unsigned char* const out = reinterpret_cast<unsigned char*>(buffer);
  std::size_t bytes = 0;
  while (in != inEnd) {
    UChar32 c = unitAt(in);
    in += 2;
    if (static_cast<uint32_t>(c - 1) < 0x7F) {  // ASCII other than 0: one byte
      if (bytes == room) break;
      out[bytes++] = static_cast<unsigned char>(c);
      continue;
    }
    if (c == 0) break;
    if (!U16_IS_SURROGATE(c)) {  // two or three bytes, the commonest first
      if (bytes + U8_LENGTH(c) > room) break;
      U8_APPEND_UNSAFE(out, bytes, c);
      continue;
    }
    if (U16_IS_SURROGATE_LEAD(c) && in != inEnd && U16_IS_TRAIL(unitAt(in))) {
      c = U16_GET_SUPPLEMENTARY(c, unitAt(in));
      in += 2;
    } else {
      c = 0xFFFD;  // unpaired
    }
    if (bytes + U8_LENGTH(c) > room) break;
    U8_APPEND_UNSAFE(out, bytes, c);
  }
  out[bytes] = 0;
  return true;
}

}  // namespace NSPlTV
