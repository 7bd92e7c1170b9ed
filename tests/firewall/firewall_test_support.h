// Shared fixture of the firewall wrapper tests: the testbed's firewall
// objects registered in this process, task memory spied, and at the end
// every reference, string and apartment initialisation given back.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "firewall/com_test_tools.h"
#include "in_process_host_win.h"

namespace qf::fwtest {

using testbed::Call;
using testbed::FirewallHost;
using testbed::FirewallRule;

constexpr HRESULT kFailure = E_FAIL;  // 0x80004005
// What the policy answers while its service is stopped or missing.
constexpr HRESULT kServiceNotRunning = HRESULT_FROM_WIN32(EPT_S_NOT_REGISTERED);  // 0x800706D9

class FirewallDoublesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    firewall_ = std::make_unique<testbed::InProcessFirewall>();
    ASSERT_TRUE(firewall_->registered());
    spy_ = std::make_unique<testtools::AllocationSpy>();
    ASSERT_TRUE(spy_->active());
  }

  void TearDown() override {
    EXPECT_EQ(host().LiveReferences(), 0) << "interface references left";
    EXPECT_EQ(host().LiveObjects(), 0) << "firewall objects left";
    EXPECT_EQ(spy_->Live(), 0) << "strings or task memory left";
    EXPECT_EQ(spy_->DoubleFrees(), 0);
    spy_.reset();
    firewall_.reset();
    // Every apartment initialisation was undone: a new one is the first.
    const HRESULT again = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    EXPECT_EQ(again, S_OK) << "an apartment initialisation was left behind";
    if (SUCCEEDED(again)) CoUninitialize();
  }

  FirewallHost& host() { return firewall_->host(); }
  testtools::AllocationSpy& spy() { return *spy_; }

 private:
  std::unique_ptr<testbed::InProcessFirewall> firewall_;
  std::unique_ptr<testtools::AllocationSpy> spy_;
};

}  // namespace qf::fwtest
