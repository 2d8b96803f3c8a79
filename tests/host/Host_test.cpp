// What keeps the shipped host flat over a long run: identifiers of names a
// page invents, records of ended instances, the misuse list of the test
// browser; and the counts the host keeps in every build.
#include <gtest/gtest.h>

#include <string>

#include "TestBrowser.h"
#include "module/NPEntry.h"

namespace tb = testbrowser;

namespace {

// The module's own names keep their identity while a page probes more names
// than the host keeps; a passing identifier answers its name until reused.
TEST(HostBounds, InventedNamesStayWithinTheIdentifierRoom) {
  const NPNetscapeFuncs& b = tb::Browser();
  NPIdentifier own = tb::Id("GetCountry"), number = b.getintidentifier(7);
  NPObject* probe = tb::NewPlainObject();
  const std::size_t invented = 3 * nphost::kIdentifierRoom;
  NPIdentifier last = nullptr;
  for (std::size_t i = 0; i < invented; ++i) {
    last = tb::Id("probe" + std::to_string(i));
    EXPECT_FALSE(tb::HasProperty(probe, "probe" + std::to_string(i)));
  }
  EXPECT_LE(tb::GetCounts().identifiers, nphost::kIdentifierRoom);
  EXPECT_EQ(tb::Id("GetCountry"), own);
  EXPECT_EQ(b.getintidentifier(7), number);
  EXPECT_EQ(tb::Id("probe" + std::to_string(invented - 1)), last);
  NPUTF8* name = b.utf8fromidentifier(last);
  EXPECT_STREQ(name, ("probe" + std::to_string(invented - 1)).c_str());
  b.memfree(name);
  tb::Release(probe);
}

// A host that makes and ends instances all day keeps records of the live
// ones, of those a queued call still names and of the last kEndedRoom ended.
TEST(HostBounds, EndedInstancesLeaveNoRecords) {
  tb::Reset();
  nphost::Host host(nphost::Entries{NP_GetMIMEDescription, NP_GetValue, NP_Initialize, NP_Shutdown});
  ASSERT_EQ(host.Initialize(), NPERR_NO_ERROR);
  const long objects = nphost::GetCounts().liveObjects;
  const std::size_t rounds = nphost::Host::kEndedRoom + 50;
  for (std::size_t i = 0; i < rounds; ++i) {
    NPP npp = host.New();
    NPObject* tv = host.ScriptObject(npp);
    ASSERT_TRUE(tv);
    tb::Release(tv);
    tb::Browser().pluginthreadasynccall(npp, [](void*) {}, nullptr);  // outlives the instance
    EXPECT_EQ(host.Destroy(npp), NPERR_NO_ERROR);
  }
  EXPECT_EQ(host.instanceRecords(), rounds) << "records named by a queued call are kept";
  tb::PumpAsyncCalls();
  host.Destroy(host.New());
  EXPECT_EQ(host.instanceRecords(), nphost::Host::kEndedRoom + 1);
  EXPECT_EQ(nphost::GetCounts().liveObjects, objects);
  EXPECT_EQ(nphost::GetCounts().openBlocks, 0);
  host.entries().shutdown();
}

TEST(HostBounds, TheMisuseListIsBounded) {
  tb::Reset();
  NPObject* gone = tb::NewPlainObject();
  tb::Release(gone);
  for (std::size_t i = 0; i < tb::kMisuseRoom + 36; ++i) tb::Release(gone);
  auto misuses = tb::Misuses();
  ASSERT_EQ(misuses.size(), tb::kMisuseRoom + 1);
  EXPECT_EQ(misuses.front(), "releaseobject on an object that is not alive");
  EXPECT_EQ(misuses.back(), "and 36 more");
  tb::Reset();
}

}  // namespace
