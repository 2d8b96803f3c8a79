// Event texts as JavaScript string literals, byte for byte, and their length;
// built in every configuration.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/ScriptText.h"

namespace {

std::string Quote(const std::string& text) {
  const std::size_t length = NSPlTV::QuotedLength(text.data(), text.size());
  // Guard bytes on both sides: nothing may be written outside the length.
  std::string buffer(length + 16, '#');
  char* begin = &buffer[8];
  char* end = NSPlTV::WriteQuoted(begin, text.data(), text.size());
  EXPECT_EQ(static_cast<std::size_t>(end - begin), length) << "written and counted differ";
  EXPECT_EQ(buffer.substr(0, 8), "########");
  EXPECT_EQ(buffer.substr(8 + length), "########");
  return std::string(begin, length);
}

struct Case {
  const char* what;
  std::string text, literal;
};

TEST(ScriptText, EachTextBecomesTheLiteralThatDecodesToIt) {
  const std::vector<Case> cases = {
      {"empty", "", R"("")"},
      {"plain ASCII", "Reminder 21:00", R"("Reminder 21:00")"},
      {"a quote", "\"", R"("\"")"},
      {"a backslash", "\\", R"("\\")"},
      {"a backslash before a quote", "\\\"", R"("\\\"")"},
      {"a quote that would end the literal and call", "a\",alert(1),\"",
       R"("a\",alert(1),\"")"},
      {"a quote that would close the call", "\");x();(\"", R"("\");x();(\"")"},
      {"single quotes and a template stay", "'`${x}`'", R"("'`${x}`'")"},
      {"markup stays (an evaluated text is not parsed as HTML)", "</script><script>x()</script>",
       R"("</script><script>x()</script>")"},
      {"line breaks and tab", "a\nb\rc\td", R"("a\nb\rc\td")"},
      {"the other control characters", std::string("\x01\x08\x0b\x0c\x1b\x1f", 6),
       R"("\u0001\u0008\u000B\u000C\u001B\u001F")"},
      {"DEL", "\x7f", R"("\u007F")"},
      {"U+2028 and U+2029", "a\xe2\x80\xa8" "b\xe2\x80\xa9" "c", R"("a\u2028b\u2029c")"},
      {"their neighbours U+2027 and U+202A stay", "\xe2\x80\xa7\xe2\x80\xaa",
       "\"\xe2\x80\xa7\xe2\x80\xaa\""},
      {"NEL (U+0085) stays", "\xc2\x85", "\"\xc2\x85\""},
      {"accented, CJK and outside the BMP stay", "gr\xc3\xbc\xc3\x9f" "e \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80",
       "\"gr\xc3\xbc\xc3\x9f" "e \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80\""},
      {"U+FFFD itself stays", "\xef\xbf\xbd", "\"\xef\xbf\xbd\""},
      {"the highest code point stays", "\xf4\x8f\xbf\xbf", "\"\xf4\x8f\xbf\xbf\""},
      // Ill-formed UTF-8: one U+FFFD per maximal subpart, no byte after it swallowed.
      {"a lone continuation byte", "\x80", R"("\uFFFD")"},
      {"bytes that never occur", "\xc0\xc1\xf5\xff", R"("\uFFFD\uFFFD\uFFFD\uFFFD")"},
      {"an overlong encoding of a quote", "\xc0\xa2", R"("\uFFFD\uFFFD")"},
      {"an overlong three-byte slash", "\xe0\x80\xaf", R"("\uFFFD\uFFFD\uFFFD")"},
      {"a lead byte before a quote", "\xe2\"", R"("\uFFFD\"")"},
      {"two bytes of three before a quote", "\xe2\x80\"", R"("\uFFFD\"")"},
      {"three bytes of four before a backslash", "\xf0\x9f\x98\\", R"("\uFFFD\\")"},
      {"a lead byte before a line break", "\xe2\n", R"("\uFFFD\n")"},
      {"cut off at the end", "ab\xe2\x80", R"("ab\uFFFD")"},
      {"a surrogate", "\xed\xa0\x80", R"("\uFFFD\uFFFD\uFFFD")"},
      {"above U+10FFFF", "\xf4\x90\x80\x80", R"("\uFFFD\uFFFD\uFFFD\uFFFD")"},
      {"the standard's example of maximal subparts",
       "\x61\xf1\x80\x80\xe1\x80\xc2\x62\x80\x63\x80\xbf\x64",
       R"("a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd")"},
      {"a byte 0 within the given length", std::string("a\0b", 3), R"("a\u0000b")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Quote(c.text), c.literal);
  }
}

TEST(ScriptText, LongTextsKeepTheirBoundsAtTheLargestExpansion) {
  const std::size_t mib = std::size_t(1) << 20;
  struct Long {
    const char* what;
    std::string unit, quotedUnit;
  };
  const std::vector<Long> cases = {
      {"1 MiB of letters", "a", "a"},
      {"1 MiB of control characters (six bytes each)", "\x01", "\\u0001"},
      {"1 MiB of quotes", "\"", "\\\""},
      {"1 MiB of U+2028 (three bytes to six)", "\xe2\x80\xa8", "\\u2028"},
      {"1 MiB of stray bytes (one to six)", "\xff", "\\uFFFD"},
  };
  for (const Long& c : cases) {
    SCOPED_TRACE(c.what);
    std::string text, want = "\"";
    while (text.size() + c.unit.size() <= mib) {
      text += c.unit;
      want += c.quotedUnit;
    }
    want += '"';
    EXPECT_EQ(NSPlTV::QuotedLength(text.data(), text.size()), want.size());
    EXPECT_TRUE(Quote(text) == want);
  }
}

}  // namespace
