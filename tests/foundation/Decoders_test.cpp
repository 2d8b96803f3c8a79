// Reply decoding: the markers, the integer reading, the ASCII copy and the
// UTF-16 to UTF-8 conversion, with their buffer limits.
#include <climits>
#include <cstring>
#include <vector>

#include "Support.h"
#include "bridge/CQuvBase.h"

namespace {

using NSPlTV::CQuvBase;
using nptv_test::U16Reply;
using std::string_literals::operator""s;

TEST(IsError, OnlyAnUpperCaseEAtTheStart) {
  const struct {
    std::string reply;
    bool error;
  } cases[] = {{"E", true},      {"Eanything at all", true}, {"E\0tail"s, true},
               {"", false},      {"e", false},               {"I5", false},
               {"\0E"s, false},  {" E", false},              {"AE", false}};
  for (const auto& c : cases) {
    std::string reply = c.reply;
    EXPECT_EQ(CQuvBase::IsError(reply), c.error) << "reply '" << c.reply << "'";
    EXPECT_EQ(reply, c.reply);
  }
}

TEST(GetInteger, ReadsLikeStrtolClampedTo32Bits) {
  const struct {
    std::string reply;
    bool ok;
    int value;  // when !ok: the value must stay at the sentinel
  } cases[] = {
      {"I42", true, 42},
      {"I-7", true, -7},
      {"I", true, 0},
      {"I12abc", true, 12},
      {"I  +15", true, 15},
      {"I\t\n-3x", true, -3},
      {"I0012", true, 12},
      {"I0x1F", true, 0},
      {"I- 5", true, 0},
      {"I2147483647", true, INT_MAX},
      {"I2147483648", true, INT_MAX},
      {"I-2147483648", true, INT_MIN},
      {"I-2147483649", true, INT_MIN},
      {"I4294967296", true, INT_MAX},  // not wrapped to 0 where long is wider
      {"I99999999999999999999999", true, INT_MAX},
      {"I-99999999999999999999999", true, INT_MIN},
      {"I12\0" "34"s, true, 12},
      {"I\0" "5"s, true, 0},
      {"E5", false, 0},
      {"", false, 0},
      {"i5", false, 0},
      {"A5", false, 0},
      {"\xc9" "5", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("reply '" + c.reply + "'");
    std::string reply = c.reply;
    int value = 777;
    EXPECT_EQ(CQuvBase::GetInteger(reply, &value), c.ok);
    EXPECT_EQ(value, c.ok ? c.value : 777);
    EXPECT_EQ(reply, c.reply);
  }
  std::string reply = "I5";
  EXPECT_FALSE(CQuvBase::GetInteger(reply, nullptr));
}

TEST(GetASCII, IntoAStringUpToTheFirstZeroByte) {
  const struct {
    std::string reply;
    bool ok;
    std::string text;
  } cases[] = {{"Ahello", true, "hello"},  {"A", true, ""},  {"Ahe\0llo"s, true, "he"},
               {"A\xc3\xa9\xff", true, "\xc3\xa9\xff"}, {"Ixx", false, "old"},
               {"", false, "old"},         {"aX", false, "old"}};
  for (const auto& c : cases) {
    std::string reply = c.reply, text = "old";
    EXPECT_EQ(CQuvBase::GetASCII(reply, text), c.ok) << c.reply;
    EXPECT_EQ(text, c.text) << c.reply;
  }
}

TEST(GetASCII, IntoABufferCutToItsCapacity) {
  const std::string huge = "A" + std::string(40000, 'x');
  const struct {
    std::string reply;
    std::size_t capacity;
    bool ok;
    std::string written;  // the bytes written from the buffer's start
  } cases[] = {
      {"A", 10, true, "\0"s},
      {"Ahello", 10, true, "hello\0"s},
      {"Ahello", 6, true, "hello\0"s},
      {"Ahello", 5, true, "hell\0"s},
      {"Ahello", 1, true, "\0"s},
      {"Ahello", 0, false, ""},
      {"Ahe\0llo"s, 10, true, "he\0"s},
      {"A\xc3\xa9\x80\xff", 10, true, "\xc3\xa9\x80\xff\0"s},
      {huge, 300, true, std::string(299, 'x') + '\0'},
      {huge, 256, true, std::string(255, 'x') + '\0'},
      {"Bhello", 10, false, ""},
      {"", 10, false, ""},
      {"E", 10, false, ""},
      {"I12", 10, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("reply of " + std::to_string(c.reply.size()) + " bytes, capacity " +
                 std::to_string(c.capacity));
    std::string reply = c.reply;
    std::vector<char> buffer(c.capacity + 64, '#');
    EXPECT_EQ(CQuvBase::GetASCII(reply, buffer.data(), c.capacity), c.ok);
    EXPECT_EQ(std::string(buffer.data(), c.written.size()), c.written);
    EXPECT_EQ(std::string(buffer.begin() + c.written.size(), buffer.end()),
              std::string(buffer.size() - c.written.size(), '#'));
    EXPECT_EQ(reply, c.reply);
  }
  std::string reply = "Ahello";
  EXPECT_FALSE(CQuvBase::GetASCII(reply, static_cast<char*>(nullptr), 10));
}

std::string Repeat(const std::string& s, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += s;
  return out;
}

std::u16string Repeat16(const std::u16string& s, int times) {
  std::u16string out;
  for (int i = 0; i < times; ++i) out += s;
  return out;
}

TEST(GetUNICODE, ConvertsToUtf8WithinTheBufferAndTheConversionLimit) {
  const std::string eAcute = "\xc3\xa9", nihon = "\xe6\x97\xa5\xe6\x9c\xac";
  const std::string grin = "\xf0\x9f\x98\x80", replacement = "\xef\xbf\xbd";
  const struct {
    const char* what;
    std::string reply;
    std::size_t capacity;
    bool ok;
    std::string written;  // the bytes written from the buffer's start
  } cases[] = {
      {"terminated", U16Reply(u"TV\0"s), 512, true, "TV\0"s},
      {"last unit is the terminator", U16Reply(u"TV"), 512, true, "T\0"s},
      {"marker alone", "U", 512, true, ""},
      {"one stray byte", "U\x41"s, 512, true, "\0"s},
      {"stray odd byte dropped", U16Reply(u"TV\0"s) + "Q", 512, true, "TV\0"s},
      {"unit and stray byte", U16Reply(u"T") + "Q", 512, true, "T\0"s},
      {"two-byte character", U16Reply(u"\u00e9\0"s), 512, true, eAcute + '\0'},
      {"three-byte characters", U16Reply(u"\u65e5\u672c\0"s), 512, true, nihon + '\0'},
      {"surrogate pair", U16Reply(u"\U0001F600\0"s), 512, true, grin + '\0'},
      {"unpaired high surrogate", U16Reply(u"\xD800" u"A\0"s), 512, true,
       replacement + "A" + '\0'},
      {"unpaired low surrogate", U16Reply(u"x\xDC00\0"s), 512, true, "x" + replacement + '\0'},
      {"reversed pair", U16Reply(u"\xDC00\xD800\0"s), 512, true,
       replacement + replacement + '\0'},
      {"high surrogate before terminator", U16Reply(u"\xD83D\0"s), 512, true,
       replacement + '\0'},
      {"text ends at a zero unit", U16Reply(u"A\0B\0"s), 512, true, "A\0"s},
      {"character that does not fit is left out", U16Reply(u"a\u00e9\0"s), 3, true, "a\0"s},
      {"exact fit", U16Reply(u"a\u00e9\0"s), 4, true, "a" + eAcute + '\0'},
      {"pair that does not fit", U16Reply(u"a\U0001F600\0"s), 5, true, "a\0"s},
      {"pair that fits", U16Reply(u"a\U0001F600\0"s), 6, true, "a" + grin + '\0'},
      {"capacity 1", U16Reply(u"abc\0"s), 1, true, "\0"s},
      {"capacity 0", U16Reply(u"abc\0"s), 0, false, ""},
      {"40 KB of two-byte characters into 512", U16Reply(std::u16string(20000, u'\u00e9')), 512,
       true, Repeat(eAcute, 255) + '\0'},
      {"40 KB of three-byte characters into 512", U16Reply(std::u16string(20000, u'\u65e5')), 512,
       true, Repeat("\xe6\x97\xa5", 170) + '\0'},
      {"40 KB into 4096: the 1024-byte limit", U16Reply(std::u16string(20000, u'x')), 4096, true,
       std::string(1023, 'x') + '\0'},
      {"two-byte characters at the 1024-byte limit", U16Reply(std::u16string(20000, u'\u00e9')),
       4096, true, Repeat(eAcute, 511) + '\0'},
      {"pairs at the 1024-byte limit", U16Reply(Repeat16(u"\U0001F600", 10000)), 4096, true,
       Repeat(grin, 255) + '\0'},
      {"last character exactly at the limit", U16Reply(std::u16string(1021, u'x') + u"\u00e9\0"s),
       4096, true, std::string(1021, 'x') + eAcute + '\0'},
      {"pair one byte past the limit", U16Reply(std::u16string(1022, u'x') + u"\U0001F600\0"s),
       4096, true, std::string(1022, 'x') + '\0'},
      {"pair split by the limit", U16Reply(std::u16string(1023, u'x') + u"\U0001F600y\0"s), 4096,
       true, std::string(1023, 'x') + '\0'},
      {"ASCII reply", "Atext", 512, false, ""},
      {"empty reply", "", 512, false, ""},
      {"error reply", "E", 512, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string reply = c.reply;
    std::vector<unsigned short> buffer(2100, 0xABAB);  // 4200 bytes
    ASSERT_LE(c.capacity + 64, buffer.size() * 2);
    EXPECT_EQ(CQuvBase::GetUNICODE(reply, buffer.data(), c.capacity), c.ok);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), c.written.size()), c.written);
    for (std::size_t i = c.written.size(); i < buffer.size() * 2; ++i)
      ASSERT_EQ(bytes[i], 0xAB) << "byte " << i << " written";
    EXPECT_EQ(reply, c.reply);
  }
  std::string reply = U16Reply(u"TV\0"s);
  EXPECT_FALSE(CQuvBase::GetUNICODE(reply, nullptr, 512));
}

}  // namespace
