// The binary layout the browser and the module agree on, on the machine the
// tests run on (qemu for armhf): a wrong field order or a missing entry shifts
// every later one and makes the module call the wrong browser function.
#include <cstddef>
#include <cstdint>

#include <gtest/gtest.h>

#include "module/NPNFuncs.h"

// The armhf build fails if the table copy has the wrong size; these say which entry moved.
#if defined(__arm__) && !defined(__aarch64__)
static_assert(sizeof(NPNFuncs) == 212, "armhf: NPNFuncs through convertpoint");
#endif

namespace {

constexpr bool kArm32 =
#if defined(__arm__) && !defined(__aarch64__)
    true;
#else
    false;
#endif
constexpr bool kX86_64 =
#if defined(__x86_64__)
    true;
#else
    false;
#endif

// Entries are one pointer-sized word each, numbered from 1 after the two uint16_t fields.
struct Entry {
  const char* name;
  size_t offset;
  unsigned word;
};

#define NPN_ENTRY(field, word) {#field, offsetof(NPNetscapeFuncs, field), word}
#define NPP_ENTRY(field, word) {#field, offsetof(NPPluginFuncs, field), word}

TEST(TargetLayout, BrowserTableEntriesSitAtTheirWords) {
  const Entry entries[] = {
      NPN_ENTRY(geturl, 1),          NPN_ENTRY(uagent, 8),           NPN_ENTRY(memalloc, 9),
      NPN_ENTRY(memfree, 10),        NPN_ENTRY(getvalue, 17),        NPN_ENTRY(setvalue, 18),
      NPN_ENTRY(invalidaterect, 19), NPN_ENTRY(getstringidentifier, 22), NPN_ENTRY(createobject, 28),
      NPN_ENTRY(retainobject, 29),   NPN_ENTRY(releaseobject, 30),   NPN_ENTRY(invokeDefault, 32),
      NPN_ENTRY(evaluate, 33),       NPN_ENTRY(releasevariantvalue, 39), NPN_ENTRY(setexception, 40),
      NPN_ENTRY(pluginthreadasynccall, 44), NPN_ENTRY(construct, 45), NPN_ENTRY(convertpoint, 52),
  };
  for (const Entry& e : entries)
    EXPECT_EQ(e.offset, e.word * sizeof(void*)) << "NPNetscapeFuncs::" << e.name;
}

TEST(TargetLayout, PluginTableEntriesSitAtTheirWords) {
  const Entry entries[] = {
      NPP_ENTRY(newp, 1),          NPP_ENTRY(destroy, 2),     NPP_ENTRY(setwindow, 3),
      NPP_ENTRY(newstream, 4),     NPP_ENTRY(event, 10),      NPP_ENTRY(javaClass, 12),
      NPP_ENTRY(getvalue, 13),     NPP_ENTRY(setvalue, 14),   NPP_ENTRY(getsiteswithdata, 19),
      NPP_ENTRY(didComposite, 20),
  };
  for (const Entry& e : entries)
    EXPECT_EQ(e.offset, e.word * sizeof(void*)) << "NPPluginFuncs::" << e.name;
}

// Absolute sizes as the browsers of each target lay them out.
struct Size {
  const char* what;
  size_t actual, arm32, x86_64;
};

TEST(TargetLayout, SizesMatchTheTarget) {
  if (!kArm32 && !kX86_64) GTEST_SKIP() << "no reference sizes for this machine";
  const Size sizes[] = {
      {"NPNFuncs", sizeof(NPNFuncs), 212, 424},
      {"NPNetscapeFuncs", sizeof(NPNetscapeFuncs), 212, 424},
      {"offset of pluginthreadasynccall", offsetof(NPNetscapeFuncs, pluginthreadasynccall), 176,
       352},
      {"NPPluginFuncs through getsiteswithdata",
       offsetof(NPPluginFuncs, getsiteswithdata) + sizeof(void*), 80, 160},
      {"NPVariant", sizeof(NPVariant), 16, 24},
      {"offset of NPVariant::value", offsetof(NPVariant, value), 8, 8},
      {"NPString", sizeof(NPString), 8, 16},
      {"NPObject", sizeof(NPObject), 8, 16},
      {"NPClass", sizeof(NPClass), 52, 104},
      {"NPBool", sizeof(NPBool), 1, 1},
      {"NPError", sizeof(NPError), 2, 2},
      // Enumerations with a fixed int type: the size a C compiler gives them.
      {"NPPVariable", sizeof(NPPVariable), 4, 4},
      {"NPNVariable", sizeof(NPNVariable), 4, 4},
      {"NPVariantType", sizeof(NPVariantType), 4, 4},
      {"NPWindowType", sizeof(NPWindowType), 4, 4},
      {"NPWindow", sizeof(NPWindow), 36, 48},
  };
  for (const Size& s : sizes)
    EXPECT_EQ(s.actual, kArm32 ? s.arm32 : s.x86_64) << s.what;
}

}  // namespace
