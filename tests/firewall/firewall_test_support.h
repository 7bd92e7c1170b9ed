// Shared fixture of the firewall wrapper tests: doubles registered, task
// memory spied, and at the end every reference, string and apartment
// initialisation given back.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "firewall/doubles/firewall_doubles.h"

namespace qf::fwtest {

using fwdouble::Call;

constexpr HRESULT kFailure = E_FAIL;  // 0x80004005

class FirewallDoublesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    doubles_ = std::make_unique<fwdouble::FirewallDoubles>();
    ASSERT_TRUE(doubles_->registered());
    spy_ = std::make_unique<fwdouble::AllocationSpy>();
    ASSERT_TRUE(spy_->active());
  }

  void TearDown() override {
    EXPECT_EQ(host().LiveReferences(), 0) << "interface references left";
    EXPECT_EQ(host().LiveObjects(), 0) << "double objects left";
    EXPECT_EQ(spy_->Live(), 0) << "strings or task memory left";
    EXPECT_EQ(spy_->DoubleFrees(), 0);
    spy_.reset();
    doubles_.reset();
    // Every apartment initialisation was undone: a new one is the first.
    const HRESULT again = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    EXPECT_EQ(again, S_OK) << "an apartment initialisation was left behind";
    if (SUCCEEDED(again)) CoUninitialize();
  }

  fwdouble::FirewallHost& host() { return doubles_->host(); }
  fwdouble::AllocationSpy& spy() { return *spy_; }

 private:
  std::unique_ptr<fwdouble::FirewallDoubles> doubles_;
  std::unique_ptr<fwdouble::AllocationSpy> spy_;
};

}  // namespace qf::fwtest
