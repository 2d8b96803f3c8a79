#include "cases.h"

#include <cstring>

#include <quvstub/Control.h>

namespace benchcases {
namespace {

NPVariant Int(int v) {
  NPVariant x;
  x.type = NPVariantType_Int32;
  x.value.intValue = v;
  return x;
}
NPVariant Str(const char* s) {
  NPVariant x;
  x.type = NPVariantType_String;
  x.value.stringValue.UTF8Characters = s;
  x.value.stringValue.UTF8Length = static_cast<uint32_t>(std::strlen(s));
  return x;
}

std::size_t CodePoints(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char ch : s)
    if ((ch & 0xC0) != 0x80) ++n;
  return n;
}

std::vector<Case> Build() {
  std::vector<Case> v;
  {
    Case c;
    c.key = "default";
    c.call = "tv()";
    c.isDefault = true;
    c.expectInt = 1;
    v.push_back(c);
  }
  {
    Case c;
    c.key = "GetCountry";
    c.call = "tv.GetCountry()";
    c.command = "GetCountry";
    c.reply = "I3";
    c.expectInt = 3;
    v.push_back(c);
  }
  {
    Case c;
    c.key = "SetTimeZone";
    c.call = "tv.SetTimeZone(5, 60)";
    c.command = "SetTimeZone";
    c.reply = "I7";
    c.args = {Int(5), Int(60)};
    c.expectInt = 7;
    v.push_back(c);
  }
  {
    Case c;
    c.key = "GetProgram_Title";
    c.call = "tv.GetProgram_Title(2)";
    c.command = "GetProgram_Title";
    c.reply = quvstub::Utf16Reply(Title100());
    c.args = {Int(2)};
    c.expectString = true;
    c.expectText = Title100();
    v.push_back(c);
  }
  {
    Case c;
    c.key = "ConvertEpochToLocalTime";
    c.call = "tv.ConvertEpochToLocalTime(\"1700000000\")";
    c.command = "ConvertEpochToLocalTime";
    c.reply = "A2023/11/14 22:13:20";
    c.args = {Str("1700000000")};
    c.expectString = true;
    c.expectText = "2023/11/14 22:13:20";
    v.push_back(c);
  }
  {
    Case c;
    c.key = "IsValidPassword";
    c.call = "tv.IsValidPassword(\"0000\")";
    c.command = "IsValidPassword";
    c.reply = "I1";
    c.args = {Str("0000")};
    c.expectInt = 1;
    v.push_back(c);
  }
  {
    // Answered by the module itself: the floor of a method that does not
    // reach the TV.
    Case c;
    c.key = "GetPluginInfo";
    c.call = "tv.GetPluginInfo(0)";
    c.args = {Int(0)};
    c.expectString = true;
    c.expectText = "TV-0017";
    v.push_back(c);
  }
  return v;
}

}  // namespace

const std::string& Title100() {
  static const std::string title = [] {
    std::string t =
        u8"Spätnachrichten – Wetter für Zürich, Genève & Łódź · 東京ニュース — Ελλάδα ☀ "
        u8"Spätnachrichten – Wetter für ";
    return t;
  }();
  return title;
}

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = [] {
    // The title must really be 100 characters: the figure is named after it.
    if (CodePoints(Title100()) != 100) std::abort();
    return Build();
  }();
  return cases;
}

const Case* Find(const std::string& key) {
  for (const Case& c : Cases())
    if (c.key == key) return &c;
  return nullptr;
}

void Prepare(const Case& c) {
  quvstub::ClearReplies();
  if (!c.command.empty()) quvstub::SetReply(c.command, c.reply, -1);
}

bool CallAndCheck(const benchhost::Instance& inst, const Case& c, std::string* why) {
  NPVariant result;
  result.type = NPVariantType_Void;
  bool ok = c.isDefault
                ? benchhost::InvokeDefault(inst, &result)
                : benchhost::Invoke(inst, c.key.c_str(), c.args.data(),
                                    static_cast<uint32_t>(c.args.size()), &result);
  bool good = false;
  if (!ok) {
    *why = c.call + ": the call failed";
  } else if (c.expectString) {
    if (result.type != NPVariantType_String) {
      *why = c.call + ": expected a string, got variant type " + std::to_string(result.type);
    } else {
      std::string got(result.value.stringValue.UTF8Characters,
                      result.value.stringValue.UTF8Length);
      good = got == c.expectText;
      if (!good) *why = c.call + ": expected \"" + c.expectText + "\", got \"" + got + "\"";
    }
  } else {
    good = result.type == NPVariantType_Int32 && result.value.intValue == c.expectInt;
    if (!good)
      *why = c.call + ": expected " + std::to_string(c.expectInt) + ", got variant type " +
             std::to_string(result.type) +
             (result.type == NPVariantType_Int32 ? " value " + std::to_string(result.value.intValue)
                                                 : std::string());
  }
  benchhost::ReleaseVariant(&result);
  return good;
}

}  // namespace benchcases
