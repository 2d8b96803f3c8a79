// Reply decoding: the markers, the integer reading, the ASCII copy and the
// UTF-16 to UTF-8 conversion, with their buffer limits. No decoder changes
// the reply, and none writes on false.
#include <climits>
#include <vector>

#include "Support.h"
#include "bridge/CQuvBase.h"

namespace {

using nptv_test::U16Reply;
using NSPlTV::CQuvBase;
using namespace std::string_literals;

TEST(Decoders, IsErrorAndGetInteger) {
  const struct {
    std::string reply;
    bool error, isInteger;
    int value;
  } cases[] = {
      {"E", true, false, 0},
      {"Eanything\0"s, true, false, 0},
      {"", false, false, 0},
      {"e", false, false, 0},
      {"\0E"s, false, false, 0},
      {"A5", false, false, 0},
      {"\xc9"
       "5",
       false, false, 0},
      {"I42", false, true, 42},
      {"I-7", false, true, -7},
      {"I", false, true, 0},
      {"I12abc", false, true, 12},
      {"I \t+15", false, true, 15},
      {"I0x1F", false, true, 0},
      {"I- 5", false, true, 0},
      {"I12\0"
       "34"s,
       false, true, 12},
      {"I-2147483648", false, true, INT_MIN},
      {"I2147483648", false, true, INT_MAX},
      {"I-2147483649", false, true, INT_MIN},
      {"I4294967296", false, true, INT_MAX},  // not wrapped where long is 64 bits
      {"I-99999999999999999999", false, true, INT_MIN},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("reply '" + c.reply + "'");
    std::string reply = c.reply;
    int value = 777;
    EXPECT_EQ(CQuvBase::IsError(reply), c.error);
    EXPECT_EQ(CQuvBase::GetInteger(reply, &value), c.isInteger);
    EXPECT_EQ(value, c.isInteger ? c.value : 777);
    EXPECT_FALSE(CQuvBase::GetInteger(reply, nullptr));
    EXPECT_EQ(reply, c.reply);
  }
}

TEST(Decoders, GetASCIICutsToTheCapacity) {
  const std::string huge = "A" + std::string(40000, 'x');
  const struct {
    std::string reply;
    std::size_t capacity;
    bool ok;
    std::string written;  // from the buffer's start; the rest stays '#'
  } cases[] = {
      {"A", 10, true, "\0"s},
      {"Ahello", 6, true, "hello\0"s},
      {"Ahello", 5, true, "hell\0"s},
      {"Ahello", 1, true, "\0"s},
      {"Ahello", 0, false, ""},
      {"Ahe\0llo"s, 10, true, "he\0"s},
      {"A\xc3\xa9\x80\xff", 10, true, "\xc3\xa9\x80\xff\0"s},
      {huge, 300, true, std::string(299, 'x') + '\0'},
      {"Bhello", 10, false, ""},
      {"", 10, false, ""},
      {"I12", 10, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply.substr(0, 12) + ", capacity " + std::to_string(c.capacity));
    std::string reply = c.reply, text = "old";
    std::vector<char> buffer(c.capacity + 16, '#');
    EXPECT_EQ(CQuvBase::GetASCII(reply, buffer.data(), c.capacity), c.ok);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()),
              c.written + std::string(buffer.size() - c.written.size(), '#'));
    bool ascii = c.reply.rfind('A', 0) == 0;  // the string overload has no capacity
    EXPECT_EQ(CQuvBase::GetASCII(reply, text), ascii);
    EXPECT_EQ(text, ascii ? c.reply.substr(1, c.reply.find('\0') - 1) : "old");
    EXPECT_FALSE(CQuvBase::GetASCII(reply, static_cast<char*>(nullptr), 10));
    EXPECT_EQ(reply, c.reply);
  }
}

std::string Times(const std::string& s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

TEST(Decoders, GetUNICODEConvertsWithinTheBufferAndTheLimit) {
  const std::string e = "\xc3\xa9", grin = "\xf0\x9f\x98\x80", bad = "\xef\xbf\xbd";
  const std::u16string kGrin = u"\U0001F600";
  const struct {
    const char* what;
    std::string reply;
    std::size_t capacity;
    bool ok;
    std::string written;  // from the buffer's start; the rest stays untouched
  } cases[] = {
      {"terminated", U16Reply(u"TV\0"s), 512, true, "TV\0"s},
      {"last unit is the terminator", U16Reply(u"TV"), 512, true, "T\0"s},
      {"marker alone", "U", 512, true, ""},
      {"one stray byte", "U\x41", 512, true, "\0"s},
      {"stray odd byte dropped", U16Reply(u"TV\0"s) + "Q", 512, true, "TV\0"s},
      {"two-byte character", U16Reply(u"\u00e9\0"s), 512, true, e + '\0'},
      {"three-byte character", U16Reply(u"\u6771\0"s), 512, true, "\xe6\x9d\xb1\0"s},
      {"ASCII around other characters", U16Reply(u"Sp\u00e4t \u6771" + kGrin + u"!\0"s), 512, true,
       "Sp\xc3\xa4t \xe6\x9d\xb1"s + grin + "!\0"s},
      {"three-byte character that does not fit", U16Reply(u"ab\u6771\0"s), 5, true, "ab\0"s},
      {"ASCII up to the last byte", U16Reply(u"abcdef\0"s), 4, true, "abc\0"s},
      {"surrogate pair", U16Reply(kGrin + u'\0'), 512, true, grin + '\0'},
      {"unpaired high surrogate",
       U16Reply(u"\xD800"
                u"A\0"s),
       512, true, bad + "A" + '\0'},
      {"unpaired low surrogate", U16Reply(u"x\xDC00\0"s), 512, true, "x" + bad + '\0'},
      {"reversed pair", U16Reply(u"\xDC00\xD800\0"s), 512, true, bad + bad + '\0'},
      {"text ends at a zero unit", U16Reply(u"A\0B\0"s), 512, true, "A\0"s},
      {"character that does not fit", U16Reply(u"a\u00e9\0"s), 3, true, "a\0"s},
      {"exact fit", U16Reply(u"a\u00e9\0"s), 4, true, "a" + e + '\0'},
      {"pair that does not fit", U16Reply(u"a" + kGrin + u'\0'), 5, true, "a\0"s},
      {"capacity 1", U16Reply(u"abc\0"s), 1, true, "\0"s},
      {"capacity 0", U16Reply(u"abc\0"s), 0, false, ""},
      {"40 KB into 512", U16Reply(std::u16string(20000, u'\u00e9')), 512, true,
       Times(e, 255) + '\0'},
      {"40 KB against the 1024-byte limit", U16Reply(std::u16string(20000, u'x')), 4096, true,
       std::string(1023, 'x') + '\0'},
      {"pairs against the limit", U16Reply(std::u16string(20000, u'\xD83D') + u'\0'), 4096, true,
       Times(bad, 341) + '\0'},
      {"last character at the limit", U16Reply(std::u16string(1021, u'x') + u"\u00e9\0"s), 4096,
       true, std::string(1021, 'x') + e + '\0'},
      {"pair split by the limit", U16Reply(std::u16string(1023, u'x') + kGrin + u'\0'), 4096, true,
       std::string(1023, 'x') + '\0'},
      {"ASCII reply", "Atext", 512, false, ""},
      {"empty reply", "", 512, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string reply = c.reply;
    std::vector<unsigned short> buffer(2100, 0x2323);  // 4200 bytes of '#'
    EXPECT_EQ(CQuvBase::GetUNICODE(reply, buffer.data(), c.capacity), c.ok);
    std::string bytes(reinterpret_cast<const char*>(buffer.data()), buffer.size() * 2);
    EXPECT_EQ(bytes, c.written + std::string(bytes.size() - c.written.size(), '#'));
    EXPECT_FALSE(CQuvBase::GetUNICODE(reply, nullptr, 512));
    EXPECT_EQ(reply, c.reply);
  }
}

}  // namespace
