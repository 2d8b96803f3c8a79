// The TV operations catalogue against the framework stand-in: per operation,
// the command it sends and what each kind of reply makes of its result.
#include <climits>
#include <cstring>

#include "Support.h"
#include "tv/CPlTV.h"

namespace {

using namespace NSPlTV;

enum Shape { kIntGetter, kEnumGetter, kValue, kAck, kAscii, kTitle };

// Where an operation leaves its result; the sentinels show what was written.
struct Out {
  int value = 12345;
  char text[300];
  unsigned short title[256];  // 512 bytes
  Out() { std::memset(this->text, '#', sizeof text + sizeof title); }
};
static_assert(sizeof(Out) == 4 + 300 + 512, "no padding: outputs are compared byte for byte");
int* IntOut(Out* o) { return o ? &o->value : nullptr; }
char* TextOut(Out* o) { return o ? o->text : nullptr; }
unsigned short* TitleOut(Out* o) { return o ? o->title : nullptr; }
template <typename T, typename Call>
int WithEnum(Out* o, Call call) {  // an out variable of the enumeration's own type
  if (!o) return call(static_cast<T*>(nullptr));
  T v = static_cast<T>(o->value);
  int result = call(&v);
  o->value = v;
  return result;
}
template <typename T>
T E(int v) {
  return static_cast<T>(v);
}

struct Row {
  const char* command;
  Shape shape;
  int (*call)(CPlTV& tv, Out* o);  // o null: a null out pointer or buffer
  const char *sent1, *sent2;       // the first two parameter texts; then "0", "0"
};
// clang-format off
#define ROW(name, shape, expr, s1, s2) \
  Row { #name, shape, [](CPlTV& tv, Out* o) -> int { return expr; }, s1, s2 }
#define INT(name) ROW(name, kIntGetter, tv.name(nullptr, IntOut(o)), "0", "0")
#define ENUM(name, T) \
  ROW(name, kEnumGetter, WithEnum<T>(o, [&tv](T* p) { return tv.name(nullptr, p); }), "0", "0")
#define VALUE(name) ROW(name, kValue, tv.name(nullptr), "0", "0")

const Row kCatalogue[] = {
    INT(GetPresentProgram_StartTime), INT(GetPresentProgram_EndTime),
    INT(GetPresentProgram_Duration),
    ROW(GetPresentProgram_Title, kTitle, tv.GetPresentProgram_Title(nullptr, TitleOut(o)), "0", "0"),
    ROW(GetProgramList, kAck, tv.GetProgramList(nullptr, 3, 10), "3", "10"),
    INT(GetProgramList_Size),
    ROW(GetProgram_StartTime, kIntGetter, tv.GetProgram_StartTime(nullptr, 4, IntOut(o)), "4", "0"),
    ROW(GetProgram_EndTime, kIntGetter, tv.GetProgram_EndTime(nullptr, -5, IntOut(o)), "-5", "0"),
    ROW(GetProgram_Duration, kIntGetter, tv.GetProgram_Duration(nullptr, INT_MAX, IntOut(o)),
        "2147483647", "0"),
    ROW(GetProgram_Title, kTitle, tv.GetProgram_Title(nullptr, 7, TitleOut(o)), "7", "0"),
    ROW(ConvertEpochToLocalTime, kAscii,
        tv.ConvertEpochToLocalTime(nullptr, 1764962400, TextOut(o)), "1764962400", "0"),
    VALUE(FlagAutoClock), VALUE(IsTimeSet), VALUE(FlagStreamDST), ENUM(GetDST, _PL_TV_DST_TYPE),
    ROW(SetDST, kValue, tv.SetDST(nullptr, E<_PL_TV_DST_TYPE>(2)), "2", "0"),
    ENUM(GetTimeZone, _PL_TV_TIMEZONE), INT(GetTimeZone_Offset),
    ROW(SetTimeZone, kValue, tv.SetTimeZone(nullptr, E<_PL_TV_TIMEZONE>(7), -60), "7", "-60"),
    ROW(SetEvent, kValue, tv.SetEvent(nullptr, E<_PL_TV_EVENT>(INT_MAX)), "2147483647", "0"),
    ROW(UnsetEvent, kValue, tv.UnsetEvent(nullptr, E<_PL_TV_EVENT>(9)), "9", "0"),
    ENUM(GetCountry, _PL_TV_COUNTRY),
    ROW(SetCountry, kValue, tv.SetCountry(nullptr, E<_PL_TV_COUNTRY>(INT_MIN)), "-2147483648", "0"),
    ENUM(GetLanguage, _PL_TV_LANGUAGE),
    ROW(SetLanguage, kValue, tv.SetLanguage(nullptr, E<_PL_TV_LANGUAGE>(-1)), "-1", "0"),
    ENUM(GetLanguageSet, _PL_TV_FACTORY_LANGUAGE), ENUM(GetTargetLocation, _PL_TV_TARGET_LOCATION),
    VALUE(GetPIP),
    ROW(CheckPIP, kValue, tv.CheckPIP(nullptr, true), "1", "0"),
    ROW(SetPIP, kValue, tv.SetPIP(nullptr, false), "0", "0"),
    ENUM(GetDisplayPanelType, _PL_TV_DISPLAY_PANEL), ENUM(GetProductType, _PL_TV_PRODUCT_TYPE),
    ENUM(GetBDProductType, _PL_TV_BDPRODUCT_TYPE),
    ROW(GetProductCode, kAscii, tv.GetProductCode(nullptr, true, TextOut(o)), "1", "0"),
    VALUE(IsHotelProduct), VALUE(SupportPVR), VALUE(FlagEnableChannelCategory),
    VALUE(IsYahooAvailable), VALUE(IsChannelBrowserAvailable), VALUE(IsScheduleManagerAvailable),
    VALUE(IsEPGAvailable), VALUE(IsGuideAvailable), VALUE(IsScheduleAvailable),
    ROW(SetInternetTVState, kValue, tv.SetInternetTVState(nullptr, false), "0", "0"),
    ROW(SetJorvelState, kValue, tv.SetJorvelState(nullptr, true), "1", "0"),
    // A reference: there is no null out pointer to pass (see below).
    ROW(GetPowerState, kEnumGetter, tv.GetPowerState(nullptr, o->value), "0", "0"),
    // The password goes out as it is, and the caller's text stays as it was.
    ROW(IsValidPassword, kValue, [&tv] {
          std::string password = " pa\"ss ";
          int result = tv.IsValidPassword(nullptr, password);
          return password == " pa\"ss " ? result : -99;
        }(), " pa\"ss ", "0"),
};
// clang-format on

// The replies each operation is tried with, and what each shape makes of them;
// texts far longer than the default capacities (300, 256 and 512 bytes).
const std::string kReplies[] = {"Eno", "I42", "I-1", "", "A" + std::string(40000, 'x'),
                                nptv_test::U16Reply(std::u16string(20000, u'\u00e9'))};
enum What { kUntouched, kStored, kText };
struct Outcome {
  int result;
  What what;
  int stored = 0;
};
// R(n): returns n, output untouched; S(v): returns 1, v stored; kT: returns 1, text written.
constexpr Outcome R(int result) { return {result, kUntouched}; }
constexpr Outcome S(int stored) { return {1, kStored, stored}; }
constexpr Outcome kT = {1, kText};
const Outcome kByShape[][6] = {
    // error reply, I42, I-1, empty reply, ASCII text, UTF-16 text
    {R(0), S(42), S(-1), R(1), R(1), R(1)},  // integer getter
    {R(0), S(42), S(-1), S(0), S(0), S(0)},  // enumeration getter
    {R(0), R(42), R(-1), R(0), R(0), R(0)},  // value command
    {R(0), R(1), R(1), R(1), R(1), R(1)},    // acknowledged command
    {R(0), R(1), R(1), R(1), kT, R(1)},      // ASCII text getter
    {R(0), R(1), R(1), R(1), R(1), kT},      // title getter
};

class CatalogueTest : public nptv_test::FrameworkTest {};

TEST_F(CatalogueTest, EveryOperationSendsItsCommandAndDecodesByItsShape) {
  char path[] = "/apps/tv";
  CPlTV tv(path);
  for (const Row& row : kCatalogue) {
    for (std::size_t kind = 0; kind < std::size(kReplies); ++kind) {
      SCOPED_TRACE(std::string(row.command) + ", reply " + std::to_string(kind));
      quvstub::ClearJournal();
      quvstub::SetReply(row.command, kReplies[kind], 1);
      Out o, expected;
      const Outcome& outcome = kByShape[row.shape][kind];
      if (outcome.what == kStored) expected.value = outcome.stored;
      if (outcome.what == kText && row.shape == kAscii) {
        std::size_t length = std::string(row.command) == "GetProductCode" ? 255 : 299;
        std::memset(expected.text, 'x', length);
        expected.text[length] = '\0';
      }
      if (outcome.what == kText && row.shape == kTitle) {
        std::string title;
        while (title.size() < 510) title += "\xc3\xa9";
        std::memcpy(expected.title, title.c_str(), 511);
      }
      EXPECT_EQ(row.call(tv, &o), outcome.result);
      EXPECT_EQ(0, std::memcmp(&o, &expected, sizeof o)) << "outputs";
      EXPECT_EQ(Sent(), (Journal{{row.command, row.sent1, row.sent2, "0", "0"}}));
    }
    // Getters and text getters refuse a null out pointer and send nothing.
    if (std::string(row.command) == "GetPowerState") continue;
    quvstub::ClearJournal();
    bool hasOut = row.shape != kValue && row.shape != kAck;
    EXPECT_EQ(row.call(tv, nullptr) == -3, hasOut) << row.command;
    EXPECT_EQ(Sent().empty(), hasOut) << row.command;
  }
}

TEST_F(CatalogueTest, LocalOperationsSendNothing) {
  char path[] = "/apps/tv";
  CPlTV tv(path);
  quvstub::ClearJournal();
  EXPECT_EQ(tv.SetWatchDog(nullptr, true), 1);
  EXPECT_EQ(tv.SetWatchDog(nullptr, false), 1);
  const struct {
    int item;
    bool null;
    std::size_t capacity;
    int result;
    std::string written;  // then '#' untouched
  } cases[] = {{0, false, 1024, 1, std::string("TV-0017", 8)},
               {0, false, 8, 1, std::string("TV-0017", 8)},
               {0, false, 5, 1, std::string("TV-0", 5)},
               {0, false, 0, 1, ""},
               {1000, false, 1024, -4, ""},
               {1000, true, 1024, -3, ""}};
  for (const auto& c : cases) {
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(
        tv.GetPluginInfo(nullptr, E<_PL_CMN_INFO>(c.item), c.null ? nullptr : buffer, c.capacity),
        c.result);
    EXPECT_EQ(std::string(buffer, 16), c.written + std::string(16 - c.written.size(), '#'));
  }
  EXPECT_TRUE(Sent().empty());
}

}  // namespace
