// CLegacyFirewall against the profile doubles.
#include "firewall/legacy_firewall.h"

#include "firewall_test_support.h"

namespace qf::fwtest {
namespace {

using fwdouble::StdoutCapture;

class LegacyFirewallTest : public FirewallDoublesTest {
 protected:
  void SetUp() override {
    FirewallDoublesTest::SetUp();
    capture_ = std::make_unique<StdoutCapture>();
  }
  void TearDown() override {
    EXPECT_EQ(capture_->Take(), "");  // this object never writes
    capture_.reset();
    FirewallDoublesTest::TearDown();
  }

 private:
  std::unique_ptr<StdoutCapture> capture_;
};

TEST_F(LegacyFirewallTest, InitializeHoldsOnlyTheProfileAndTwiceKeepsIt) {
  CLegacyFirewall firewall;
  EXPECT_EQ(firewall.Initialize(), FWE_NONE);
  EXPECT_TRUE(firewall.IsOpen());
  EXPECT_EQ(host().LiveObjects(), 1);  // manager and policy released
  EXPECT_EQ(host().LiveReferences(), 1);
  EXPECT_EQ(firewall.Initialize(), FWE_BAD_STATE);
  EXPECT_EQ(host().Calls(Call::CreateMgr), 1);
  EXPECT_EQ(host().LiveReferences(), 1);
  EXPECT_EQ(firewall.Cleanup(), FWE_NONE);
  EXPECT_FALSE(firewall.IsOpen());
  EXPECT_EQ(firewall.Cleanup(), FWE_NONE);
  EXPECT_EQ(firewall.Initialize(), FWE_NONE);  // reopens after a cleanup
}

TEST_F(LegacyFirewallTest, NotOpenAnswersBadStateWithOutParametersFalse) {
  CLegacyFirewall firewall;
  BOOL on = TRUE;
  BOOL open = TRUE;
  EXPECT_EQ(firewall.IsFirewallOn(on), FWE_BAD_STATE);
  EXPECT_FALSE(on);
  EXPECT_EQ(firewall.TurnOnFirewall(), FWE_BAD_STATE);
  EXPECT_EQ(firewall.IsPortOpen(445, NET_FW_IP_PROTOCOL_TCP, open), FWE_BAD_STATE);
  EXPECT_FALSE(open);
  EXPECT_TRUE(host().CallLog().empty());
}

TEST_F(LegacyFirewallTest, TurnOnWritesOnlyWhenOff) {
  CLegacyFirewall firewall;
  ASSERT_EQ(firewall.Initialize(), FWE_NONE);
  EXPECT_EQ(firewall.TurnOnFirewall(), FWE_NONE);
  EXPECT_EQ(host().legacyFirewallEnabled, VARIANT_TRUE);
  EXPECT_EQ(host().Calls(Call::ProfilePutFirewallEnabled), 1);
  EXPECT_EQ(firewall.TurnOnFirewall(), FWE_NONE);
  EXPECT_EQ(host().Calls(Call::ProfilePutFirewallEnabled), 1);
  BOOL on = FALSE;
  EXPECT_EQ(firewall.IsFirewallOn(on), FWE_NONE);
  EXPECT_TRUE(on);
}

TEST_F(LegacyFirewallTest, FirewallStateTakesAnyNonZeroButPortsOnlyVariantTrue) {
  host().legacyFirewallEnabled = 1;
  host().openPorts = {{445, NET_FW_IP_PROTOCOL_TCP, 1}, {135, NET_FW_IP_PROTOCOL_TCP, VARIANT_TRUE}};
  CLegacyFirewall firewall;
  ASSERT_EQ(firewall.Initialize(), FWE_NONE);
  BOOL on = FALSE;
  EXPECT_EQ(firewall.IsFirewallOn(on), FWE_NONE);
  EXPECT_TRUE(on);
  BOOL open = TRUE;
  EXPECT_EQ(firewall.IsPortOpen(445, NET_FW_IP_PROTOCOL_TCP, open), FWE_NONE);
  EXPECT_FALSE(open);
  EXPECT_EQ(firewall.IsPortOpen(135, NET_FW_IP_PROTOCOL_TCP, open), FWE_NONE);
  EXPECT_TRUE(open);
}

TEST_F(LegacyFirewallTest, UnlistedOtherProtocolOrDisabledPortIsClosedWithoutError) {
  host().openPorts = {{137, NET_FW_IP_PROTOCOL_UDP, VARIANT_TRUE}, {139, NET_FW_IP_PROTOCOL_TCP, VARIANT_FALSE}};
  CLegacyFirewall firewall;
  ASSERT_EQ(firewall.Initialize(), FWE_NONE);
  for (long port : {445L, 137L, 139L}) {
    BOOL open = TRUE;
    EXPECT_EQ(firewall.IsPortOpen(port, NET_FW_IP_PROTOCOL_TCP, open), FWE_NONE) << port;
    EXPECT_FALSE(open) << port;
  }
  BOOL open = FALSE;
  EXPECT_EQ(firewall.IsPortOpen(137, NET_FW_IP_PROTOCOL_UDP, open), FWE_NONE);
  EXPECT_TRUE(open);
  EXPECT_EQ(host().LiveReferences(), 1);  // collections and entries released
}

TEST_F(LegacyFirewallTest, DestructorCleansUp) {
  {
    CLegacyFirewall firewall;
    ASSERT_EQ(firewall.Initialize(), FWE_NONE);
    EXPECT_EQ(host().LiveReferences(), 1);
  }
  EXPECT_EQ(host().LiveReferences(), 0);
}

}  // namespace
}  // namespace qf::fwtest
