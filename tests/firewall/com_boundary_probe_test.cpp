// What the test machinery itself relies on: class objects reached through
// CoCreateInstance, strings seen by the spy, standard output captured.
#include <cstdio>

#include "firewall_test_support.h"

namespace qf::fwtest {
namespace {

TEST_F(FirewallDoublesTest, ProbeCreateReachesTheObjectsAndSpySeesStrings) {
  INetFwPolicy2* policy = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwPolicy2,
                             reinterpret_cast<void**>(&policy)),
            S_OK);
  EXPECT_EQ(host().LiveReferences(), 1);
  policy->Release();
  const long before = spy().Allocations();
  BSTR text = SysAllocString(L"445");
  EXPECT_EQ(spy().Live(), 1);
  SysFreeString(text);
  EXPECT_EQ(spy().Allocations(), before + 1);
  testtools::StdoutCapture capture;
  wprintf(L"wide %ls 0x%08lx\n", L"text", 0x8007007aUL);
  printf("narrow %s\n", "text");
  EXPECT_EQ(capture.Take(), "wide text 0x8007007a\nnarrow text\n");
}

}  // namespace
}  // namespace qf::fwtest
