// NPP_New when each allocation of instance creation on the main thread fails
// in turn: it succeeds or answers NPERR_OUT_OF_MEMORY_ERROR, leaving no
// plug-in data, connection, browser object or block behind.
#include <cstdlib>
#include <new>

#include "Support.h"

namespace {

// Allocations on the arming thread fail once `gLeft` reaches zero.
thread_local bool tArmed = false;
thread_local long tLeft = -1;

void* Allocate(std::size_t size) {
  if (tArmed && tLeft >= 0 && tLeft-- == 0) return nullptr;
  return std::malloc(size ? size : 1);
}

}  // namespace

// These operators pair malloc with free themselves (the compiler cannot see that).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

using OutOfMemory = PluginTest;

TEST_F(OutOfMemory, EveryAllocationOfInstanceCreationMayFail) {
  tb::SetAppText(4001, std::string(200, 'p'));  // long enough to need the heap
  tb::SetAppText(4002, std::string(100, 'a'));
  int refused = 0;
  for (long n = 0;; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
    NPP_t instance{nullptr, nullptr};
    char mime[] = "application/tv";
    tLeft = n;
    tArmed = true;
    NPError e = host->plugin().newp(mime, &instance, NP_EMBED, 0, nullptr, nullptr, nullptr);
    tArmed = false;
    const bool failureReached = tLeft < 0;
    if (e == NPERR_NO_ERROR) {
      // The failed allocation was one that creation can do without (a log record).
      ASSERT_NE(instance.pdata, nullptr);
      EXPECT_EQ(host->plugin().destroy(&instance, nullptr), NPERR_NO_ERROR);
    } else {
      ++refused;
      ASSERT_EQ(e, NPERR_OUT_OF_MEMORY_ERROR);
      EXPECT_EQ(instance.pdata, nullptr);
    }
    EXPECT_TRUE(quvstub::Connections().empty()) << "connection left open";
    EXPECT_EQ(tb::LiveObjects(), baselineObjects);
    EXPECT_EQ(tb::RefCount(tb::WindowObject()), 1u);
    EXPECT_EQ(tb::OpenAllocations(), 0u);
    if (!failureReached) {
      EXPECT_EQ(e, NPERR_NO_ERROR);
      RecordProperty("allocations", static_cast<int>(n));
      RecordProperty("refused", refused);
      break;  // creation makes fewer than n + 1 allocations: all were tried
    }
    ASSERT_LT(n, 100000) << "instance creation never completed";
  }
  EXPECT_GE(refused, 2) << "the plug-in object and the TV object are allocations of their own";
}

}  // namespace
