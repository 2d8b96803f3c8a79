// Event texts written as JavaScript string literals, for the call text of a
// handler given by name when the build quotes event texts
// (NPTV_QUOTE_EVENT_TEXTS). Whatever bytes a text holds, its literal is one
// double-quoted JavaScript string that decodes to the text:
//   - `"` and `\` are escaped (`\"`, `\\`);
//   - every control character below U+0020 and DEL are escaped (`\t`, `\n`,
//     `\r`, the others as `\u00XX`), so no line break ends the literal;
//   - U+2028 and U+2029, line terminators to older script engines, are
//     written `\u2028` and `\u2029`;
//   - every other well-formed UTF-8 sequence is copied as it is;
//   - each ill-formed UTF-8 sequence (its maximal subpart, as a UTF-8 decoder
//     replaces it) becomes `\uFFFD`, so the whole call text is well-formed
//     UTF-8 and no browser falls back to decoding it some other way.
// The output is ASCII apart from the copied well-formed sequences.
#ifndef NPTV_BRIDGE_SCRIPTTEXT_H
#define NPTV_BRIDGE_SCRIPTTEXT_H

#include <cstddef>

namespace NSPlTV {

// The length in bytes of the literal of `text` (`length` bytes), quotes
// included. At most 6 * length + 2.
std::size_t QuotedLength(const char* text, std::size_t length);

// Writes the literal of `text` at `out`, which has room for
// QuotedLength(text, length) bytes; returns the end of what was written
// (no terminating byte 0).
char* WriteQuoted(char* out, const char* text, std::size_t length);

}  // namespace NSPlTV

#endif
