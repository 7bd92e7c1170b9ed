// CLegacyFirewall against the profile doubles.
#include "firewall/legacy_firewall.h"

#include <vector>

#include "firewall_test_support.h"

namespace qf::fwtest {
namespace {

using testbed::FileAndPrintSharing;
using testbed::Opening;
using testtools::StdoutCapture;

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
  EXPECT_TRUE(host().LegacyFirewallEnabled());
  EXPECT_EQ(host().Calls(Call::ProfilePutFirewallEnabled), 1);
  EXPECT_EQ(firewall.TurnOnFirewall(), FWE_NONE);
  EXPECT_EQ(host().Calls(Call::ProfilePutFirewallEnabled), 1);
  BOOL on = FALSE;
  EXPECT_EQ(firewall.IsFirewallOn(on), FWE_NONE);
  EXPECT_TRUE(on);
}

TEST_F(LegacyFirewallTest, FirewallStateTakesAnyNonZeroButPortsOnlyVariantTrue) {
  host().AnswerCall(Call::ProfileGetFirewallEnabled, 0, 1);
  host().openPorts = {Opening(445, NET_FW_IP_PROTOCOL_TCP, true), Opening(135, NET_FW_IP_PROTOCOL_TCP, true)};
  host().AnswerCall(Call::OpenPortGetEnabled, 1, 1);  // the first port asked, 445
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
  host().openPorts = {Opening(137, NET_FW_IP_PROTOCOL_UDP, true), Opening(139, NET_FW_IP_PROTOCOL_TCP, false)};
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

// ---- what the panel reads: exposure of the guarded ports ----------------------

const std::vector<long> kGuarded = {445, 135, 136, 137, 138, 139};

class ExposureTest : public LegacyFirewallTest {
 protected:
  void SetUp() override {
    LegacyFirewallTest::SetUp();
    host().LegacyFirewallEnabled() = true;
  }
  // Blocked per guarded port; code and reading kept for the test to look at.
  std::vector<bool> Read() {
    CLegacyFirewall firewall;
    EXPECT_EQ(firewall.Initialize(), FWE_NONE);
    code = firewall.ReadExposure(kGuarded, reading);
    std::vector<bool> blocked;
    for (long port : kGuarded) blocked.push_back(qf::firewall::LegacyPortBlocked(reading, port));
    return blocked;
  }
  FW_ERROR_CODE code = FWE_NONE;
  qf::firewall::LegacyProfileReading reading;
};

const std::vector<bool> kAllBlocked(6, true);
const std::vector<bool> kAllExposed(6, false);
// 445, 135, 136, 137, 138, 139 with File and Printer Sharing open.
const std::vector<bool> kFileAndPrintOpen = {false, true, true, false, false, false};

TEST_F(ExposureTest, FileAndPrinterSharingExposesItsFourPortsOverBothProtocols) {
  host().serviceExceptions = {FileAndPrintSharing(true)};
  EXPECT_EQ(Read(), kFileAndPrintOpen);
  EXPECT_EQ(code, FWE_NONE);
  EXPECT_TRUE(qf::firewall::LegacyFirewallOn(reading));
  host().serviceExceptions = {FileAndPrintSharing(false)};
  EXPECT_EQ(Read(), kAllBlocked);
}

TEST_F(ExposureTest, GloballyOpenPortsOfEitherProtocolExposeAndDisabledOnesDoNot) {
  host().openPorts = {Opening(135, NET_FW_IP_PROTOCOL_UDP, true), Opening(136, NET_FW_IP_PROTOCOL_TCP, false),
                      Opening(445, NET_FW_IP_PROTOCOL_TCP, true)};
  EXPECT_EQ(Read(), (std::vector<bool>{false, false, true, true, true, true}));
}

TEST_F(ExposureTest, AServicePortEnabledOnItsOwnOrAnEnabledServiceWithDisabledEntriesExposes) {
  testbed::ServiceException service = FileAndPrintSharing(false);
  service.ports[1].enabled = true;  // 445 alone
  host().serviceExceptions = {service};
  EXPECT_EQ(Read(), (std::vector<bool>{false, true, true, true, true, true}));
  // A service reported on whatever its entries say.
  host().serviceExceptions = {FileAndPrintSharing(false)};
  host().AnswerCall(Call::ServiceGetEnabled, 0, VARIANT_TRUE);
  EXPECT_EQ(Read(), kFileAndPrintOpen);
}

TEST_F(ExposureTest, FirewallOffExposesEverythingAndReadsNoFurther) {
  host().LegacyFirewallEnabled() = false;
  EXPECT_EQ(Read(), kAllExposed);
  EXPECT_FALSE(qf::firewall::LegacyFirewallOn(reading));
  EXPECT_EQ(host().Calls(Call::ProfileGetExceptionsNotAllowed), 0);
  EXPECT_EQ(host().Calls(Call::OpenPortsItem), 0);
}

TEST_F(ExposureTest, NoExceptionsModeBlocksEverythingWithoutLookingAtOpenings) {
  host().SetExceptionsNotAllowed(testbed::LegacyProfile::Standard, true);
  host().serviceExceptions = {FileAndPrintSharing(true)};
  EXPECT_EQ(Read(), kAllBlocked);
  EXPECT_EQ(host().Calls(Call::ProfileGetServices), 0);
}

TEST_F(ExposureTest, ClosedProfileReadsOffAndExposed) {
  CLegacyFirewall firewall;
  qf::firewall::LegacyProfileReading closed;
  EXPECT_EQ(firewall.ReadExposure(kGuarded, closed), FWE_BAD_STATE);
  EXPECT_FALSE(qf::firewall::LegacyFirewallOn(closed));
  EXPECT_FALSE(qf::firewall::LegacyPortBlocked(closed, 445));
}

struct ExposureFailure {
  Call failing;
  FW_ERROR_CODE code;
  std::vector<bool> blocked;  // with File and Printer Sharing off, no global opening but 139/TCP disabled
};

std::ostream& operator<<(std::ostream& os, const ExposureFailure& f) { return os << testbed::CallName(f.failing); }

class ExposureFailureTest : public ExposureTest, public ::testing::WithParamInterface<ExposureFailure> {};

TEST_P(ExposureFailureTest, WhatCannotBeReadIsExposed) {
  host().serviceExceptions = {FileAndPrintSharing(false)};
  host().openPorts = {Opening(139, NET_FW_IP_PROTOCOL_TCP, false)};
  host().FailCall(GetParam().failing, 0, kFailure);
  EXPECT_EQ(Read(), GetParam().blocked);
  EXPECT_EQ(code, GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    EveryRead, ExposureFailureTest,
    ::testing::Values(ExposureFailure{Call::ProfileGetFirewallEnabled, FWE_ENABLED_GET, kAllExposed},
                      // Unread, exceptions may be honoured: the openings decide.
                      ExposureFailure{Call::ProfileGetExceptionsNotAllowed, FWE_EXCEPTIONS_GET, kAllBlocked},
                      ExposureFailure{Call::ProfileGetGloballyOpenPorts, FWE_OPEN_PORTS_GET, kAllExposed},
                      ExposureFailure{Call::OpenPortsItem, FWE_NONE, kAllExposed},
                      ExposureFailure{Call::OpenPortGetEnabled, FWE_NONE, {true, true, true, true, true, false}},
                      ExposureFailure{Call::ProfileGetServices, FWE_SERVICES_GET, kAllExposed},
                      ExposureFailure{Call::ServicesGetNewEnum, FWE_SERVICES_GET, kAllExposed},
                      ExposureFailure{Call::ServiceGetGloballyOpenPorts, FWE_SERVICES_GET, kAllExposed},
                      ExposureFailure{Call::ServicePortsItem, FWE_NONE, kAllExposed},
                      // Entries read off, the service itself unread: it may be on.
                      ExposureFailure{Call::ServiceGetEnabled, FWE_NONE, kFileAndPrintOpen},
                      ExposureFailure{Call::ServicePortGetEnabled, FWE_NONE, kFileAndPrintOpen}));

}  // namespace
}  // namespace qf::fwtest
