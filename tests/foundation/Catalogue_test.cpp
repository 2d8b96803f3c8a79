// The whole TV operations catalogue against the framework stand-in: for every
// operation, the command it sends (name and the four parameter texts) and
// what each kind of reply makes of its result and its output.
#include <climits>
#include <cstring>
#include <set>

#include "Support.h"
#include "tv/CPlTV.h"

namespace {

using namespace NSPlTV;
using nptv_test::FrameworkTest;

enum Shape { kIntGetter, kEnumGetter, kValue, kAck, kAsciiText, kTitle };

// Where an operation leaves its result. The sentinels show what was written.
constexpr int kSentinelValue = 12345;
constexpr char kSentinelByte = '#';
struct Out {
  int value = kSentinelValue;
  char text[300];
  unsigned short title[256];  // 512 bytes
  Out() {
    std::memset(text, kSentinelByte, sizeof text);
    std::memset(title, kSentinelByte, sizeof title);
  }
};

int* IntOut(Out* o) { return o ? &o->value : nullptr; }
char* TextOut(Out* o) { return o ? o->text : nullptr; }
unsigned short* TitleOut(Out* o) { return o ? o->title : nullptr; }

// Enumeration out parameters get a variable of their own type.
template <typename T, typename Call>
int WithEnum(Out* o, Call call) {
  if (!o) return call(static_cast<T*>(nullptr));
  T v = static_cast<T>(o->value);
  int result = call(&v);
  o->value = static_cast<int>(v);
  return result;
}

struct Row {
  const char* command;
  Shape shape;
  int (*call)(CPlTV& tv, Out* o);  // o null: the out pointer or buffer is null
  const char* sent[4];
};

#define ROW(name, shape, expr, s1, s2) \
  Row { #name, shape, [](CPlTV& tv, Out* o) -> int { return expr; }, { s1, s2, "0", "0" } }
#define INT_ROW(name) ROW(name, kIntGetter, tv.name(nullptr, IntOut(o)), "0", "0")
#define ENUM_ROW(name, T) \
  ROW(name, kEnumGetter, WithEnum<T>(o, [&tv](T* p) { return tv.name(nullptr, p); }), "0", "0")
#define VALUE_ROW(name) ROW(name, kValue, tv.name(nullptr), "0", "0")

template <typename T>
T E(int v) {
  return static_cast<T>(v);
}

const Row kCatalogue[] = {
    INT_ROW(GetPresentProgram_StartTime),
    INT_ROW(GetPresentProgram_EndTime),
    INT_ROW(GetPresentProgram_Duration),
    ROW(GetPresentProgram_Title, kTitle, tv.GetPresentProgram_Title(nullptr, TitleOut(o)), "0",
        "0"),
    ROW(GetProgramList, kAck, tv.GetProgramList(nullptr, 3, 10), "3", "10"),
    INT_ROW(GetProgramList_Size),
    ROW(GetProgram_StartTime, kIntGetter, tv.GetProgram_StartTime(nullptr, 4, IntOut(o)), "4",
        "0"),
    ROW(GetProgram_EndTime, kIntGetter, tv.GetProgram_EndTime(nullptr, -5, IntOut(o)), "-5", "0"),
    ROW(GetProgram_Duration, kIntGetter, tv.GetProgram_Duration(nullptr, INT_MAX, IntOut(o)),
        "2147483647", "0"),
    ROW(GetProgram_Title, kTitle, tv.GetProgram_Title(nullptr, 7, TitleOut(o)), "7", "0"),
    ROW(ConvertEpochToLocalTime, kAsciiText,
        tv.ConvertEpochToLocalTime(nullptr, 1764962400, TextOut(o)), "1764962400", "0"),
    VALUE_ROW(FlagAutoClock),
    VALUE_ROW(IsTimeSet),
    VALUE_ROW(FlagStreamDST),
    ENUM_ROW(GetDST, _PL_TV_DST_TYPE),
    ROW(SetDST, kValue, tv.SetDST(nullptr, E<_PL_TV_DST_TYPE>(2)), "2", "0"),
    ENUM_ROW(GetTimeZone, _PL_TV_TIMEZONE),
    INT_ROW(GetTimeZone_Offset),
    ROW(SetTimeZone, kValue, tv.SetTimeZone(nullptr, E<_PL_TV_TIMEZONE>(7), -60), "7", "-60"),
    ROW(SetEvent, kValue, tv.SetEvent(nullptr, E<_PL_TV_EVENT>(INT_MAX)), "2147483647", "0"),
    ROW(UnsetEvent, kValue, tv.UnsetEvent(nullptr, E<_PL_TV_EVENT>(9)), "9", "0"),
    ENUM_ROW(GetCountry, _PL_TV_COUNTRY),
    ROW(SetCountry, kValue, tv.SetCountry(nullptr, E<_PL_TV_COUNTRY>(INT_MIN)), "-2147483648",
        "0"),
    ENUM_ROW(GetLanguage, _PL_TV_LANGUAGE),
    ROW(SetLanguage, kValue, tv.SetLanguage(nullptr, E<_PL_TV_LANGUAGE>(-1)), "-1", "0"),
    ENUM_ROW(GetLanguageSet, _PL_TV_FACTORY_LANGUAGE),
    ENUM_ROW(GetTargetLocation, _PL_TV_TARGET_LOCATION),
    VALUE_ROW(GetPIP),
    ROW(CheckPIP, kValue, tv.CheckPIP(nullptr, true), "1", "0"),
    ROW(SetPIP, kValue, tv.SetPIP(nullptr, false), "0", "0"),
    ENUM_ROW(GetDisplayPanelType, _PL_TV_DISPLAY_PANEL),
    ENUM_ROW(GetProductType, _PL_TV_PRODUCT_TYPE),
    ENUM_ROW(GetBDProductType, _PL_TV_BDPRODUCT_TYPE),
    ROW(GetProductCode, kAsciiText, tv.GetProductCode(nullptr, true, TextOut(o)), "1", "0"),
    VALUE_ROW(IsHotelProduct),
    VALUE_ROW(SupportPVR),
    VALUE_ROW(FlagEnableChannelCategory),
    VALUE_ROW(IsYahooAvailable),
    VALUE_ROW(IsChannelBrowserAvailable),
    VALUE_ROW(IsScheduleManagerAvailable),
    VALUE_ROW(IsEPGAvailable),
    VALUE_ROW(IsGuideAvailable),
    VALUE_ROW(IsScheduleAvailable),
    ROW(SetInternetTVState, kValue, tv.SetInternetTVState(nullptr, false), "0", "0"),
    ROW(SetJorvelState, kValue, tv.SetJorvelState(nullptr, true), "1", "0"),
    // Operations of their own shape that still send a command.
    Row{"GetPowerState", kEnumGetter,
        [](CPlTV& tv, Out* o) -> int { return o ? tv.GetPowerState(nullptr, o->value) : -99; },
        {"0", "0", "0", "0"}},
    Row{"IsValidPassword", kValue,
        [](CPlTV& tv, Out*) -> int {
          std::string password = " pa\"ss 1 ";
          int result = tv.IsValidPassword(nullptr, password);
          return password == " pa\"ss 1 " ? result : -99;  // the caller's text is not changed
        },
        {" pa\"ss 1 ", "0", "0", "0"}},
};

// The replies every operation is tried with, and what each shape makes of them.
enum ReplyKind { kErr, kInt, kNeg, kEmpty, kAscii, kUtf16, kReplyKinds };
const std::string kReplies[kReplyKinds] = {
    "Eno such thing", "I42", "I-1", "", "A2026-12-05 19:20:00",
    nptv_test::U16Reply(std::u16string(u"Caf\u00e9\0", 5))};
const char kLocalTime[] = "2026-12-05 19:20:00";
const char kTitleText[] = "Caf\xc3\xa9";

enum What { kUntouched, kStored, kText };
struct Outcome {
  int result;
  What what;
  int stored = 0;  // kStored: the value now in the out variable
};
const Outcome kByShape[][kReplyKinds] = {
    // kErr, kInt, kNeg, kEmpty, kAscii, kUtf16
    /* kIntGetter  */ {{0, kUntouched}, {1, kStored, 42}, {1, kStored, -1}, {1, kUntouched},
                       {1, kUntouched}, {1, kUntouched}},
    /* kEnumGetter */ {{0, kUntouched}, {1, kStored, 42}, {1, kStored, -1}, {1, kStored, 0},
                       {1, kStored, 0}, {1, kStored, 0}},
    /* kValue      */ {{0, kUntouched}, {42, kUntouched}, {-1, kUntouched}, {0, kUntouched},
                       {0, kUntouched}, {0, kUntouched}},
    /* kAck        */ {{0, kUntouched}, {1, kUntouched}, {1, kUntouched}, {1, kUntouched},
                       {1, kUntouched}, {1, kUntouched}},
    /* kAsciiText  */ {{0, kUntouched}, {1, kUntouched}, {1, kUntouched}, {1, kUntouched},
                       {1, kText}, {1, kUntouched}},
    /* kTitle      */ {{0, kUntouched}, {1, kUntouched}, {1, kUntouched}, {1, kUntouched},
                       {1, kUntouched}, {1, kText}},
};

// Checks every output of `o` against what the shape should have left there.
void ExpectOutput(const Out& o, Shape shape, const Outcome& expected) {
  Out fresh;
  bool storedValue = expected.what == kStored;
  EXPECT_EQ(o.value, storedValue ? expected.stored : kSentinelValue);
  const char* text = nullptr;
  if (expected.what == kText) text = shape == kTitle ? kTitleText : kLocalTime;
  std::size_t written = text ? std::strlen(text) + 1 : 0;
  const char* buffer = shape == kTitle ? reinterpret_cast<const char*>(o.title) : o.text;
  const char* other = shape == kTitle ? o.text : reinterpret_cast<const char*>(o.title);
  std::size_t size = shape == kTitle ? sizeof o.title : sizeof o.text;
  std::size_t otherSize = shape == kTitle ? sizeof o.text : sizeof o.title;
  if (text) {
    EXPECT_EQ(0, std::memcmp(buffer, text, written)) << "text written";
  }
  EXPECT_EQ(0, std::memcmp(buffer + written, fresh.text, size - written)) << "past the text";
  EXPECT_EQ(0, std::memcmp(other, fresh.text, otherSize)) << "other buffer";
}

class CatalogueTest : public FrameworkTest {};

TEST_F(CatalogueTest, EveryOperationSendsItsCommandAndDecodesByItsShape) {
  char path[] = "/apps/tv";
  CPlTV tv(path);
  for (const Row& row : kCatalogue) {
    for (int kind = 0; kind < kReplyKinds; ++kind) {
      SCOPED_TRACE(std::string(row.command) + " answered with reply kind " + std::to_string(kind));
      quvstub::ClearJournal();
      quvstub::SetReply(row.command, kReplies[kind], 1);
      Out o;
      int result = row.call(tv, &o);
      const Outcome& expected = kByShape[row.shape][kind];
      EXPECT_EQ(result, expected.result);
      ExpectOutput(o, row.shape, expected);
      std::vector<std::string> sent = {row.command, row.sent[0], row.sent[1], row.sent[2],
                                       row.sent[3]};
      EXPECT_EQ(Sent(), std::vector<std::vector<std::string>>{sent});
    }
  }
}

TEST_F(CatalogueTest, NullOutputsReturnMinusThreeAndSendNothing) {
  char path[] = "/apps/tv";
  CPlTV tv(path);
  int checked = 0;
  for (const Row& row : kCatalogue) {
    if (row.shape == kValue || row.shape == kAck) continue;
    if (std::string(row.command) == "GetPowerState") continue;  // a reference: no null test
    SCOPED_TRACE(row.command);
    quvstub::ClearJournal();
    EXPECT_EQ(row.call(tv, nullptr), -3);
    EXPECT_TRUE(Sent().empty());
    ++checked;
  }
  EXPECT_EQ(checked, 21);  // every getter and text getter but GetPowerState
}

// Every command of the catalogue file is in the table above, and nothing else.
TEST_F(CatalogueTest, TheTableCoversTheWholeCatalogue) {
  std::set<std::string> declared = {
#define TV_INT_GETTER(name) #name,
#define TV_INT_GETTER_AT(name) #name,
#define TV_ENUM_GETTER(name, T) #name,
#define TV_VALUE(name) #name,
#define TV_VALUE_OF(name, T) #name,
#define TV_VALUE_OF2(name, T, U) #name,
#define TV_ACK_OF2(name, T, U) #name,
#define TV_ASCII_GETTER_OF(name, T, cap) #name,
#define TV_TITLE_GETTER(name) #name,
#define TV_TITLE_GETTER_AT(name) #name,
#include "tv/TvCatalogue.def"
      "GetPowerState", "IsValidPassword"};
  std::set<std::string> tested;
  for (const Row& row : kCatalogue) tested.insert(row.command);
  EXPECT_EQ(tested, declared);
  EXPECT_EQ(tested.size(), 47u);
  EXPECT_EQ(std::size(kCatalogue), 47u);
}

TEST_F(CatalogueTest, LocalOperationsSendNothing) {
  char path[] = "/apps/tv";
  CPlTV tv(path);
  quvstub::ClearJournal();
  EXPECT_EQ(tv.SetWatchDog(nullptr, true), 1);
  EXPECT_EQ(tv.SetWatchDog(nullptr, false), 1);

  struct Case {
    int item;
    bool nullBuffer;
    std::size_t capacity;
    int result;
    std::string written;  // bytes at the start of the buffer, then '#' untouched
  };
  const Case cases[] = {
      {0, false, 1024, 1, std::string("TV-0017", 8)},
      {0, false, 8, 1, std::string("TV-0017", 8)},
      {0, false, 5, 1, std::string("TV-0", 5)},  // a short buffer is cut, never overrun
      {0, false, 0, 1, ""},
      {1000, false, 1024, -4, ""},
      {-1, false, 1024, -4, ""},
      {1000, true, 1024, -3, ""},
      {0, true, 1024, -3, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("item " + std::to_string(c.item) + " capacity " + std::to_string(c.capacity));
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(tv.GetPluginInfo(nullptr, static_cast<_PL_CMN_INFO>(c.item),
                               c.nullBuffer ? nullptr : buffer, c.capacity),
              c.result);
    EXPECT_EQ(std::string(buffer, c.written.size()), c.written);
    EXPECT_EQ(std::string(buffer + c.written.size(), sizeof buffer - c.written.size()),
              std::string(sizeof buffer - c.written.size(), '#'));
  }
  EXPECT_TRUE(Sent().empty());
}

// Text getters with replies far longer than the callers' buffers: the text is
// cut to the buffer, never written past it.
TEST_F(CatalogueTest, LongTextRepliesStayInsideTheCallersBuffers) {
  char path[] = "/apps/tv";
  CPlTV tv(path);
  const std::string longAscii = "A" + std::string(40000, 'x');
  std::u16string longTitle(20000, u'\u00e9');
  longTitle += u'\0';
  struct Case {
    const char* command;
    std::string reply;
    std::size_t defaultCapacity;
    std::string expected;  // then a byte 0
    int (*call)(CPlTV&, unsigned char* buffer);
  };
  std::string e255;
  for (int i = 0; i < 255; ++i) e255 += "\xc3\xa9";
  const Case cases[] = {
      {"ConvertEpochToLocalTime", longAscii, 300, std::string(299, 'x'),
       [](CPlTV& tv, unsigned char* b) {
         return tv.ConvertEpochToLocalTime(nullptr, 0, reinterpret_cast<char*>(b));
       }},
      {"GetProductCode", longAscii, 256, std::string(255, 'x'),
       [](CPlTV& tv, unsigned char* b) {
         return tv.GetProductCode(nullptr, false, reinterpret_cast<char*>(b));
       }},
      {"GetPresentProgram_Title", nptv_test::U16Reply(longTitle), 512, e255,
       [](CPlTV& tv, unsigned char* b) {
         return tv.GetPresentProgram_Title(nullptr, reinterpret_cast<unsigned short*>(b));
       }},
      {"GetProgram_Title", nptv_test::U16Reply(longTitle), 512, e255,
       [](CPlTV& tv, unsigned char* b) {
         return tv.GetProgram_Title(nullptr, 1, reinterpret_cast<unsigned short*>(b));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    quvstub::SetReply(c.command, c.reply, 1);
    alignas(unsigned short) unsigned char buffer[1100];
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_EQ(c.call(tv, buffer), 1);
    ASSERT_LT(c.expected.size(), c.defaultCapacity);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), c.expected.size()), c.expected);
    EXPECT_EQ(buffer[c.expected.size()], 0);
    for (std::size_t i = c.defaultCapacity; i < sizeof buffer; ++i)
      ASSERT_EQ(buffer[i], 0xEE) << "written past the caller's buffer at " << i;
  }
}

}  // namespace
