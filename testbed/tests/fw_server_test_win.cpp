// The firewall COM server against its state file, loaded straight from the
// build tree (no registration), with its home in a scratch folder.
#include <windows.h>
#include <netfw.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "state_store_win.h"

using Microsoft::WRL::ComPtr;
using namespace testbed;

namespace {

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    home_ = std::wstring(temp) + L"qf-testbed-unit-" + std::to_wstring(GetCurrentProcessId());
    SetEnvironmentVariableW(L"QF_TESTBED_HOME", home_.c_str());
    HostState seed;
    seed.currentProfile = Profile::Private;
    seed.openPorts.push_back(OpenPort{LegacyProfile::Standard, 445, 6, "445", true, "ALL"});
    seed.openPorts.push_back(OpenPort{LegacyProfile::Standard, 139, 6, "139", false, "ALL"});
    seed.openPorts.push_back(OpenPort{LegacyProfile::Standard, 137, 17, "137", true, "ALL"});
    ASSERT_TRUE(WriteState(seed));
    module_ = LoadLibraryW(L"quillfort_testbed_fw.dll");
    ASSERT_NE(module_, nullptr);
    getClassObject_ = reinterpret_cast<decltype(getClassObject_)>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    ASSERT_NE(getClassObject_, nullptr);
  }
  void TearDown() override {
    DeleteFileW(StatePath().c_str());
    RemoveDirectoryW(home_.c_str());
    CoUninitialize();
  }

  template <typename I>
  HRESULT Create(const CLSID& clsid, ComPtr<I>& out) {
    ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject_(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf()));
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(nullptr, __uuidof(I), reinterpret_cast<void**>(out.ReleaseAndGetAddressOf()));
  }
  HostState Read() {
    HostState s;
    EXPECT_TRUE(ReadState(s));
    return s;
  }
  ComPtr<INetFwRule> NewBlockRule(const wchar_t* name, long protocol, const wchar_t* ports) {
    ComPtr<INetFwRule> rule;
    EXPECT_EQ(Create(CLSID_NetFwRule, rule), S_OK);
    BSTR n = SysAllocString(name), p = SysAllocString(ports);
    EXPECT_EQ(rule->put_Name(n), S_OK);
    EXPECT_EQ(rule->put_Protocol(protocol), S_OK);
    EXPECT_EQ(rule->put_LocalPorts(p), S_OK);
    EXPECT_EQ(rule->put_Action(NET_FW_ACTION_BLOCK), S_OK);
    EXPECT_EQ(rule->put_Enabled(VARIANT_TRUE), S_OK);
    SysFreeString(n);
    SysFreeString(p);
    return rule;
  }

  std::wstring home_;
  HMODULE module_ = nullptr;
  HRESULT(STDAPICALLTYPE* getClassObject_)(REFCLSID, REFIID, void**) = nullptr;
};

TEST_F(ServerTest, PolicySwitchesEachProfileOnItsOwn) {
  ComPtr<INetFwPolicy2> policy;
  ASSERT_EQ(Create(CLSID_NetFwPolicy2, policy), S_OK);
  EXPECT_EQ(policy->put_FirewallEnabled(NET_FW_PROFILE2_PUBLIC, VARIANT_TRUE), S_OK);
  VARIANT_BOOL on = VARIANT_TRUE;
  EXPECT_EQ(policy->get_FirewallEnabled(NET_FW_PROFILE2_PRIVATE, &on), S_OK);
  EXPECT_EQ(on, VARIANT_FALSE);
  EXPECT_EQ(policy->get_FirewallEnabled(NET_FW_PROFILE2_PUBLIC, &on), S_OK);
  EXPECT_EQ(on, VARIANT_TRUE);
  EXPECT_TRUE(Read().IsOn(Profile::Public));
  EXPECT_FALSE(Read().IsOn(Profile::Domain));
  EXPECT_EQ(policy->put_FirewallEnabled(NET_FW_PROFILE2_ALL, VARIANT_TRUE), E_INVALIDARG);
}

TEST_F(ServerTest, AddedRulesKeepEveryPropertyAndTheirOrder) {
  ComPtr<INetFwPolicy2> policy;
  ASSERT_EQ(Create(CLSID_NetFwPolicy2, policy), S_OK);
  ComPtr<INetFwRules> rules;
  ASSERT_EQ(policy->get_Rules(&rules), S_OK);
  auto first = NewBlockRule(L"@QXRuleOptions.exe, TCP-445", 6, L"445");
  BSTR group = SysAllocString(L"@QXRuleOptions.exe,-102");
  EXPECT_EQ(first->put_Grouping(group), S_OK);
  SysFreeString(group);
  EXPECT_EQ(first->put_Profiles(7), S_OK);
  EXPECT_EQ(rules->Add(first.Get()), S_OK);
  EXPECT_EQ(rules->Add(NewBlockRule(L"second", 17, L"135-139").Get()), S_OK);
  LONG count = 0;
  EXPECT_EQ(rules->get_Count(&count), S_OK);
  EXPECT_EQ(count, 2);

  HostState s = Read();
  ASSERT_EQ(s.rules.size(), 2u);
  EXPECT_EQ(s.rules[0].name, "@QXRuleOptions.exe, TCP-445");
  EXPECT_EQ(s.rules[0].grouping, "@QXRuleOptions.exe,-102");
  EXPECT_EQ(s.rules[0].profiles, 7);
  EXPECT_EQ(s.rules[0].action, 0);
  EXPECT_EQ(s.rules[0].direction, 1);
  EXPECT_TRUE(s.rules[0].enabled);
  EXPECT_EQ(s.rules[1].protocol, 17);
  EXPECT_EQ(s.rules[1].localPorts, "135-139");
}

TEST_F(ServerTest, RuleObjectsRefuseWhatThePlatformRefuses) {
  ComPtr<INetFwRule> rule;
  ASSERT_EQ(Create(CLSID_NetFwRule, rule), S_OK);
  BSTR ports = SysAllocString(L"445");
  EXPECT_EQ(rule->put_LocalPorts(ports), E_INVALIDARG);  // protocol still "any"
  SysFreeString(ports);
  EXPECT_EQ(rule->put_Direction(static_cast<NET_FW_RULE_DIRECTION>(3)), E_INVALIDARG);
  ComPtr<INetFwPolicy2> policy;
  ASSERT_EQ(Create(CLSID_NetFwPolicy2, policy), S_OK);
  ComPtr<INetFwRules> rules;
  ASSERT_EQ(policy->get_Rules(&rules), S_OK);
  EXPECT_EQ(rules->Add(rule.Get()), E_INVALIDARG);  // no name
  EXPECT_TRUE(Read().rules.empty());
  BSTR unset = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(rule->get_LocalPorts(&unset), S_OK);
  EXPECT_EQ(unset, nullptr);
}

TEST_F(ServerTest, EnumerationWalksASnapshotInOrderAndWritesThrough) {
  ComPtr<INetFwPolicy2> policy;
  ASSERT_EQ(Create(CLSID_NetFwPolicy2, policy), S_OK);
  ComPtr<INetFwRules> rules;
  ASSERT_EQ(policy->get_Rules(&rules), S_OK);
  for (const wchar_t* name : {L"a", L"b", L"c"}) ASSERT_EQ(rules->Add(NewBlockRule(name, 6, L"1").Get()), S_OK);
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(rules->get__NewEnum(&unknown), S_OK);
  ComPtr<IEnumVARIANT> walk;
  ASSERT_EQ(unknown.As(&walk), S_OK);
  ASSERT_EQ(rules->Add(NewBlockRule(L"late", 6, L"1").Get()), S_OK);

  std::wstring names;
  VARIANT item;
  VariantInit(&item);
  ULONG fetched = 0;
  while (walk->Next(1, &item, &fetched) == S_OK) {
    ASSERT_EQ(item.vt, VT_DISPATCH);
    ComPtr<INetFwRule> rule;
    ASSERT_EQ(item.pdispVal->QueryInterface(IID_PPV_ARGS(&rule)), S_OK);
    BSTR name = nullptr;
    rule->get_Name(&name);
    names += name;
    SysFreeString(name);
    if (names == L"ab") {
      EXPECT_EQ(rule->put_Enabled(VARIANT_FALSE), S_OK);
    }
    VariantClear(&item);
  }
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(names, L"abc");
  HostState s = Read();
  ASSERT_EQ(s.rules.size(), 4u);
  EXPECT_FALSE(s.rules[1].enabled);
  EXPECT_TRUE(s.rules[2].enabled);
}

TEST_F(ServerTest, LegacyCurrentProfileIsThePrivateSwitchAndItsOpenPorts) {
  ComPtr<INetFwMgr> manager;
  ASSERT_EQ(Create(CLSID_NetFwMgr, manager), S_OK);
  ComPtr<INetFwPolicy> local;
  ASSERT_EQ(manager->get_LocalPolicy(&local), S_OK);
  ComPtr<INetFwProfile> profile;
  ASSERT_EQ(local->get_CurrentProfile(&profile), S_OK);
  NET_FW_PROFILE_TYPE type{};
  EXPECT_EQ(profile->get_Type(&type), S_OK);
  EXPECT_EQ(type, NET_FW_PROFILE_STANDARD);
  EXPECT_EQ(profile->put_FirewallEnabled(VARIANT_TRUE), S_OK);
  EXPECT_TRUE(Read().IsOn(Profile::Private));
  EXPECT_FALSE(Read().IsOn(Profile::Public));

  ComPtr<INetFwOpenPorts> ports;
  ASSERT_EQ(profile->get_GloballyOpenPorts(&ports), S_OK);
  ComPtr<INetFwOpenPort> port;
  VARIANT_BOOL enabled = VARIANT_FALSE;
  ASSERT_EQ(ports->Item(445, NET_FW_IP_PROTOCOL_TCP, &port), S_OK);
  EXPECT_EQ(port->get_Enabled(&enabled), S_OK);
  EXPECT_EQ(enabled, VARIANT_TRUE);
  ASSERT_EQ(ports->Item(139, NET_FW_IP_PROTOCOL_TCP, &port), S_OK);
  EXPECT_EQ(port->get_Enabled(&enabled), S_OK);
  EXPECT_EQ(enabled, VARIANT_FALSE);
  EXPECT_TRUE(FAILED(ports->Item(137, NET_FW_IP_PROTOCOL_TCP, &port)));  // UDP only
  EXPECT_EQ(port, nullptr);
  EXPECT_TRUE(FAILED(ports->Item(136, NET_FW_IP_PROTOCOL_TCP, &port)));
}

TEST_F(ServerTest, RefusalFaultsAndAMissingStateFailCreation) {
  HostState s = Read();
  s.refusePolicy2 = true;
  ASSERT_TRUE(WriteState(s));
  ComPtr<INetFwPolicy2> policy;
  EXPECT_EQ(Create(CLSID_NetFwPolicy2, policy), E_ACCESSDENIED);
  ComPtr<INetFwRule> rule;
  EXPECT_EQ(Create(CLSID_NetFwRule, rule), S_OK);
  ComPtr<INetFwMgr> manager;
  EXPECT_EQ(Create(CLSID_NetFwMgr, manager), S_OK);
  DeleteFileW(StatePath().c_str());
  EXPECT_EQ(Create(CLSID_NetFwMgr, manager), E_FAIL);
  ComPtr<IUnknown> other;
  EXPECT_EQ(getClassObject_(CLSID_NetFwOpenPort, IID_IClassFactory, reinterpret_cast<void**>(other.GetAddressOf())),
            CLASS_E_CLASSNOTAVAILABLE);
}

// Every process of the host reads the file without a lock, so writers meet
// readers all the time: a reader among the writers must not cost an update.
TEST_F(ServerTest, ConcurrentWritersLoseNoUpdateAndLeaveNoTemporaryFile) {
  std::atomic<int> added{0};
  std::atomic<bool> writing{true};
  auto addMany = [&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
      ComPtr<INetFwPolicy2> policy;
      ComPtr<INetFwRules> rules;
      if (SUCCEEDED(Create(CLSID_NetFwPolicy2, policy)) && SUCCEEDED(policy->get_Rules(&rules)))
        for (int i = 0; i < 40; ++i)
          if (rules->Add(NewBlockRule(L"r", 6, L"1").Get()) == S_OK) ++added;
    }
    CoUninitialize();
  };
  std::thread reader([&] {
    while (writing) {
      HostState s;
      ReadState(s);
    }
  });
  std::thread one(addMany), two(addMany);
  one.join();
  two.join();
  writing = false;
  reader.join();
  EXPECT_EQ(added.load(), 80);
  EXPECT_EQ(Read().rules.size(), 80u);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((home_ + L"\\*.tmp").c_str(), &found);
  EXPECT_EQ(search, INVALID_HANDLE_VALUE);
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

TEST_F(ServerTest, AWriteWaitsForAReaderThatHoldsTheFileOpen) {
  HANDLE held = CreateFileW(StatePath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread closer([held] {
    Sleep(300);
    CloseHandle(held);
  });
  HostState s = Read();
  s.refusePolicy2 = true;
  DWORD t0 = GetTickCount();
  EXPECT_TRUE(WriteState(s));
  EXPECT_GE(GetTickCount() - t0, 200u);
  closer.join();
  EXPECT_TRUE(Read().refusePolicy2);
}

}  // namespace
