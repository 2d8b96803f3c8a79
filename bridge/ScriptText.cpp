// Event texts as JavaScript string literals (see ScriptText.h). One walk over
// the text serves both the length and the writing, so that the two cannot
// disagree about a single byte.
#include "bridge/ScriptText.h"

#include <cstdint>
#include <cstring>

#include <unicode/utf8.h>

namespace NSPlTV {

namespace {

// Counts what it is given (out == nullptr) or writes it.
struct Sink {
  char* out;
  std::size_t count = 0;

  void Put(const char* bytes, std::size_t n) {
    if (out) {
      std::memcpy(out, bytes, n);
      out += n;
    }
    count += n;
  }
  void Put(char c) { Put(&c, 1); }
  // \uXXXX for a code unit below U+10000.
  void PutEscaped(uint32_t unit) {
    static const char kHex[] = "0123456789ABCDEF";
    const char text[6] = {'\\', 'u', kHex[(unit >> 12) & 0xF], kHex[(unit >> 8) & 0xF],
                          kHex[(unit >> 4) & 0xF], kHex[unit & 0xF]};
    Put(text, sizeof text);
  }
};

void Walk(Sink& sink, const char* text, std::size_t length) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);
  sink.Put('"');
  std::size_t i = 0;
  std::size_t run = 0;  // start of the bytes copied as they are, not yet put
  while (i < length) {
    // Printable ASCII other than the quote and the backslash: the common case.
    while (i < length && bytes[i] >= 0x20 && bytes[i] < 0x7F && bytes[i] != '"' &&
           bytes[i] != '\\')
      ++i;
    if (i == length) break;
    const std::size_t start = i;
    UChar32 c;
    U8_NEXT(bytes, i, length, c);  // advances past one sequence or one maximal subpart
    const bool plain = c >= 0x20 && c != '"' && c != '\\' && c != 0x7F && c != 0x2028 &&
                       c != 0x2029;
    if (plain) continue;  // a well-formed sequence, copied as it is with its run
    sink.Put(text + run, start - run);
    run = i;
    if (c < 0) {
      sink.PutEscaped(0xFFFD);
    } else if (c == '"' || c == '\\') {
      const char escaped[2] = {'\\', static_cast<char>(c)};
      sink.Put(escaped, 2);
    } else if (c == '\n') {
      sink.Put("\\n", 2);
    } else if (c == '\r') {
      sink.Put("\\r", 2);
    } else if (c == '\t') {
      sink.Put("\\t", 2);
    } else {  // the other control characters, DEL, U+2028 and U+2029
      sink.PutEscaped(static_cast<uint32_t>(c));
    }
  }
  sink.Put(text + run, length - run);
  sink.Put('"');
}

}  // namespace

std::size_t QuotedLength(const char* text, std::size_t length) {
  Sink sink{nullptr};
  Walk(sink, text, length);
  return sink.count;
}

char* WriteQuoted(char* out, const char* text, std::size_t length) {
  Sink sink{out};
  Walk(sink, text, length);
  return sink.out;
}

}  // namespace NSPlTV
