// Both wrappers against the platform's own firewall objects (no testbed objects):
// whatever those implement, nothing crashes and nothing is left behind.
#include <gtest/gtest.h>

#include "firewall/advanced_firewall.h"
#include "firewall/com_test_tools.h"
#include "firewall/legacy_firewall.h"

namespace {

using qf::testtools::AllocationSpy;
using qf::testtools::StdoutCapture;

TEST(PlatformFirewallSmoke, BothWrappersRunEveryOperationAndReleaseEverything) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  {
    AllocationSpy spy;
    {
      CAdvancedFirewall advanced;
      CLegacyFirewall legacy;
      StdoutCapture out;
      ASSERT_TRUE(advanced.Initialize());
      // Wine's policy object refuses the switches and the enumeration.
      EXPECT_FALSE(advanced.EnableFirewall());
      EXPECT_FALSE(advanced.IsFirewallEnabled());
      EXPECT_TRUE(advanced.AddBlockRule(6, L"445"));
      EXPECT_FALSE(advanced.IsPortBlocked(445));
      EXPECT_TRUE(advanced.Close());
      EXPECT_EQ(out.Take(),
                "put_FirewallEnabled failed for Public: 0x80004001\n"
                "get_FirewallEnabled failed for Public: 0x80004001\n"
                "Successfully added firewall rule !\n"
                "get_CurrentProfileTypes failed: 0x80004001\n");

      ASSERT_EQ(legacy.Initialize(), FWE_NONE);
      BOOL on = TRUE;
      EXPECT_EQ(legacy.IsFirewallOn(on), FWE_NONE);
      EXPECT_FALSE(on);
      EXPECT_EQ(legacy.TurnOnFirewall(), FWE_ENABLED_PUT);
      BOOL open = FALSE;
      EXPECT_EQ(legacy.IsPortOpen(445, NET_FW_IP_PROTOCOL_TCP, open), FWE_NONE);
      EXPECT_TRUE(open);  // Wine lists every port as open
      qf::firewall::LegacyProfileReading reading;
      EXPECT_EQ(legacy.ReadExposure({445, 139}, reading), FWE_NONE);
      EXPECT_FALSE(qf::firewall::LegacyFirewallOn(reading));  // Wine's firewall is off
      EXPECT_FALSE(qf::firewall::LegacyPortBlocked(reading, 445));
      EXPECT_EQ(legacy.Cleanup(), FWE_NONE);
    }
    EXPECT_GE(spy.Allocations(), 4);
    EXPECT_EQ(spy.Live(), 0);
    EXPECT_EQ(spy.DoubleFrees(), 0);
  }
  CoUninitialize();
  const HRESULT again = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  EXPECT_EQ(again, S_OK);
  if (SUCCEEDED(again)) CoUninitialize();
}

}  // namespace
