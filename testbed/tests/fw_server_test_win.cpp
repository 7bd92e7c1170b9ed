// The firewall COM server against its state file, loaded straight from the
// build tree (no registration), with its home in a scratch folder.
#include <windows.h>
#include <netfw.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "state_store_win.h"

using Microsoft::WRL::ComPtr;
using namespace testbed;

namespace {

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using ThreadHandle = std::unique_ptr<void, HandleCloser>;

// A body run on a Win32 thread (the toolchain's libstdc++ has no std::thread),
// joined at the latest when the worker goes.
class Worker {
 public:
  explicit Worker(std::function<void()> body)
      : body_(std::move(body)), handle_(CreateThread(nullptr, 0, Run, this, 0, nullptr)) {}
  ~Worker() { Join(); }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  bool started() const { return handle_ != nullptr; }
  void Join() {
    if (handle_) WaitForSingleObject(handle_.get(), INFINITE);
    handle_.reset();
  }

 private:
  static DWORD WINAPI Run(void* self) {
    static_cast<Worker*>(self)->body_();
    return 0;
  }
  std::function<void()> body_;
  ThreadHandle handle_;
};

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
    seed.openPorts.push_back(OpenPort{LegacyProfile::Standard, 445, 6, "445", true, "ALL", ""});
    seed.openPorts.push_back(OpenPort{LegacyProfile::Standard, 139, 6, "139", false, "ALL", ""});
    seed.openPorts.push_back(OpenPort{LegacyProfile::Standard, 137, 17, "137", true, "ALL", ""});
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

// Every entry an enumerator hands out, as (port, protocol, enabled).
std::vector<std::tuple<long, long, bool>> WalkPorts(INetFwOpenPorts* ports) {
  std::vector<std::tuple<long, long, bool>> seen;
  ComPtr<IUnknown> unknown;
  ComPtr<IEnumVARIANT> walk;
  if (FAILED(ports->get__NewEnum(&unknown)) || FAILED(unknown.As(&walk))) return seen;
  VARIANT item;
  VariantInit(&item);
  while (walk->Next(1, &item, nullptr) == S_OK) {
    ComPtr<INetFwOpenPort> port;
    LONG number = 0;
    NET_FW_IP_PROTOCOL protocol{};
    VARIANT_BOOL enabled = VARIANT_FALSE;
    if (item.vt == VT_DISPATCH && SUCCEEDED(item.pdispVal->QueryInterface(IID_PPV_ARGS(&port))) &&
        SUCCEEDED(port->get_Port(&number)) && SUCCEEDED(port->get_Protocol(&protocol)) &&
        SUCCEEDED(port->get_Enabled(&enabled)))
      seen.emplace_back(number, protocol, enabled != VARIANT_FALSE);
    VariantClear(&item);
  }
  return seen;
}

TEST_F(ServerTest, GloballyOpenPortsEnumerateTcpAndUdpOfTheirProfile) {
  HostState s = Read();
  s.openPorts.push_back(OpenPort{LegacyProfile::Domain, 135, 6, "135", true, "ALL", ""});
  ASSERT_TRUE(WriteState(s));
  ComPtr<INetFwMgr> manager;
  ASSERT_EQ(Create(CLSID_NetFwMgr, manager), S_OK);
  ComPtr<INetFwPolicy> local;
  ASSERT_EQ(manager->get_LocalPolicy(&local), S_OK);
  ComPtr<INetFwProfile> profile;
  ASSERT_EQ(local->get_CurrentProfile(&profile), S_OK);
  ComPtr<INetFwOpenPorts> ports;
  ASSERT_EQ(profile->get_GloballyOpenPorts(&ports), S_OK);
  using Entry = std::tuple<long, long, bool>;
  EXPECT_EQ(WalkPorts(ports.Get()), (std::vector<Entry>{{445, 6, true}, {139, 6, false}, {137, 17, true}}));
  ComPtr<INetFwOpenPort> udp;
  ASSERT_EQ(ports->Item(137, NET_FW_IP_PROTOCOL_UDP, &udp), S_OK);
  VARIANT_BOOL enabled = VARIANT_FALSE;
  EXPECT_EQ(udp->get_Enabled(&enabled), S_OK);
  EXPECT_EQ(enabled, VARIANT_TRUE);
}

class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : value_(SysAllocString(text)) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(value_); }
  operator BSTR() const { return value_; }

 private:
  BSTR value_;
};

std::vector<std::string> RuleNames(const HostState& s) {
  std::vector<std::string> names;
  for (const auto& r : s.rules) names.push_back(r.name);
  return names;
}

TEST_F(ServerTest, RemoveTakesEveryRuleOfThatNameAndIgnoresAnUnknownName) {
  ComPtr<INetFwPolicy2> policy;
  ComPtr<INetFwRules> rules;
  ASSERT_EQ(Create(CLSID_NetFwPolicy2, policy), S_OK);
  ASSERT_EQ(policy->get_Rules(&rules), S_OK);
  for (const wchar_t* name : {L"ours", L"theirs", L"ours", L"other", L"ours"})
    ASSERT_EQ(rules->Add(NewBlockRule(name, 6, L"445").Get()), S_OK);
  EXPECT_EQ(rules->Remove(Bstr(L"ours")), S_OK);
  EXPECT_EQ(RuleNames(Read()), (std::vector<std::string>{"theirs", "other"}));
  EXPECT_EQ(rules->Remove(Bstr(L"ours")), S_OK) << "a name no rule has changes nothing";
  EXPECT_EQ(rules->Remove(Bstr(L"OTHER")), S_OK);
  EXPECT_EQ(rules->Remove(nullptr), S_OK);
  EXPECT_EQ(RuleNames(Read()), (std::vector<std::string>{"theirs", "other"}));
  LONG count = 0;
  EXPECT_EQ(rules->get_Count(&count), S_OK);
  EXPECT_EQ(count, 2);
}

// A live rule stays bound to its rule when rules before it go, and a change
// through it keeps what other objects changed meanwhile.
TEST_F(ServerTest, LiveRuleFollowsItsRuleAndChangesOnlyWhatItSets) {
  ComPtr<INetFwPolicy2> policy;
  ComPtr<INetFwRules> rules;
  ASSERT_EQ(Create(CLSID_NetFwPolicy2, policy), S_OK);
  ASSERT_EQ(policy->get_Rules(&rules), S_OK);
  for (const wchar_t* name : {L"a", L"b", L"c"}) ASSERT_EQ(rules->Add(NewBlockRule(name, 6, L"445").Get()), S_OK);
  ComPtr<INetFwRule> b, otherB;
  ASSERT_EQ(rules->Item(Bstr(L"b"), &b), S_OK);
  ASSERT_EQ(rules->Item(Bstr(L"b"), &otherB), S_OK);
  ASSERT_EQ(rules->Remove(Bstr(L"a")), S_OK);
  EXPECT_EQ(otherB->put_Action(NET_FW_ACTION_ALLOW), S_OK);
  EXPECT_EQ(b->put_Enabled(VARIANT_FALSE), S_OK);
  HostState s = Read();
  ASSERT_EQ(RuleNames(s), (std::vector<std::string>{"b", "c"}));
  EXPECT_FALSE(s.rules[0].enabled);
  EXPECT_EQ(s.rules[0].action, NET_FW_ACTION_ALLOW) << "the other object's change was lost";
  EXPECT_TRUE(s.rules[1].enabled);
  EXPECT_EQ(s.rules[1].action, NET_FW_ACTION_BLOCK);
  ASSERT_EQ(rules->Remove(Bstr(L"b")), S_OK);
  EXPECT_EQ(b->put_Enabled(VARIANT_TRUE), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RuleNames(Read()), std::vector<std::string>{"c"});
}

ComPtr<INetFwOpenPorts> OpenPortsOf(INetFwProfile* profile) {
  ComPtr<INetFwOpenPorts> ports;
  EXPECT_EQ(profile->get_GloballyOpenPorts(&ports), S_OK);
  return ports;
}

TEST_F(ServerTest, LiveOpeningTakesItsSwitchNameAndScopeBack) {
  ComPtr<INetFwMgr> manager;
  ComPtr<INetFwPolicy> local;
  ComPtr<INetFwProfile> profile;
  ASSERT_EQ(Create(CLSID_NetFwMgr, manager), S_OK);
  ASSERT_EQ(manager->get_LocalPolicy(&local), S_OK);
  ASSERT_EQ(local->get_CurrentProfile(&profile), S_OK);
  ComPtr<INetFwOpenPorts> ports = OpenPortsOf(profile.Get());
  ComPtr<INetFwOpenPort> port;
  ASSERT_EQ(ports->Item(139, NET_FW_IP_PROTOCOL_TCP, &port), S_OK);
  EXPECT_EQ(port->put_Enabled(VARIANT_TRUE), S_OK);
  EXPECT_EQ(port->put_Name(Bstr(L"NetBIOS Session")), S_OK);
  EXPECT_EQ(port->put_Scope(NET_FW_SCOPE_LOCAL_SUBNET), S_OK);
  NET_FW_SCOPE scope = NET_FW_SCOPE_ALL;
  EXPECT_EQ(port->get_Scope(&scope), S_OK);
  EXPECT_EQ(scope, NET_FW_SCOPE_LOCAL_SUBNET);
  // A custom scope needs remote addresses: refused, as the platform does.
  EXPECT_EQ(port->put_Scope(NET_FW_SCOPE_CUSTOM), E_INVALIDARG);
  EXPECT_EQ(port->put_Scope(NET_FW_SCOPE_MAX), E_INVALIDARG);
  HostState s = Read();
  const OpenPort* stored = s.FindOpenPort(LegacyProfile::Standard, 139, 6);
  ASSERT_NE(stored, nullptr);
  EXPECT_TRUE(stored->enabled);
  EXPECT_EQ(stored->name, "NetBIOS Session");
  EXPECT_EQ(stored->scope, "SUBNET");
  EXPECT_EQ(port->put_Scope(NET_FW_SCOPE_ALL), S_OK);
  EXPECT_EQ(Read().FindOpenPort(LegacyProfile::Standard, 139, 6)->scope, "ALL");
}

TEST_F(ServerTest, ClosingAPortThatIsNotOpenChangesNothing) {
  ComPtr<INetFwMgr> manager;
  ComPtr<INetFwPolicy> local;
  ComPtr<INetFwProfile> profile;
  ASSERT_EQ(Create(CLSID_NetFwMgr, manager), S_OK);
  ASSERT_EQ(manager->get_LocalPolicy(&local), S_OK);
  ASSERT_EQ(local->get_CurrentProfile(&profile), S_OK);
  ComPtr<INetFwOpenPorts> ports = OpenPortsOf(profile.Get());
  const std::string before = SerializeState(Read());
  EXPECT_EQ(ports->Remove(136, NET_FW_IP_PROTOCOL_TCP), S_OK);
  EXPECT_EQ(ports->Remove(137, NET_FW_IP_PROTOCOL_TCP), S_OK);  // open for UDP only
  EXPECT_EQ(SerializeState(Read()), before);
  EXPECT_EQ(ports->Remove(445, NET_FW_IP_PROTOCOL_TCP), S_OK);
  EXPECT_EQ(Read().FindOpenPort(LegacyProfile::Standard, 445, 6), nullptr);
  EXPECT_EQ(ports->Remove(445, NET_FW_IP_PROTOCOL_TCP), S_OK);
  EXPECT_EQ(Read().openPorts.size(), 2u);
}

TEST_F(ServerTest, ProfileByTypeIsThatLegacyProfileWhateverIsCurrent) {
  HostState s = Read();
  s.currentProfile = Profile::Domain;
  s.openPorts.push_back(OpenPort{LegacyProfile::Domain, 135, 6, "135", true, "ALL", ""});
  ASSERT_TRUE(WriteState(s));
  ComPtr<INetFwMgr> manager;
  ComPtr<INetFwPolicy> local;
  ComPtr<INetFwProfile> standard, domain;
  ASSERT_EQ(Create(CLSID_NetFwMgr, manager), S_OK);
  ASSERT_EQ(manager->get_LocalPolicy(&local), S_OK);
  ASSERT_EQ(local->GetProfileByType(NET_FW_PROFILE_STANDARD, &standard), S_OK);
  ASSERT_EQ(local->GetProfileByType(NET_FW_PROFILE_DOMAIN, &domain), S_OK);
  NET_FW_PROFILE_TYPE type{};
  EXPECT_EQ(standard->get_Type(&type), S_OK);
  EXPECT_EQ(type, NET_FW_PROFILE_STANDARD);
  EXPECT_EQ(domain->get_Type(&type), S_OK);
  EXPECT_EQ(type, NET_FW_PROFILE_DOMAIN);

  // On a domain network the standard profile is not current, yet it switches.
  EXPECT_EQ(standard->put_FirewallEnabled(VARIANT_TRUE), S_OK);
  s = Read();
  EXPECT_TRUE(s.IsOn(Profile::Private));
  EXPECT_FALSE(s.IsOn(Profile::Domain));
  using Entry = std::tuple<long, long, bool>;
  EXPECT_EQ(WalkPorts(OpenPortsOf(standard.Get()).Get()),
            (std::vector<Entry>{{445, 6, true}, {139, 6, false}, {137, 17, true}}));
  EXPECT_EQ(WalkPorts(OpenPortsOf(domain.Get()).Get()), (std::vector<Entry>{{135, 6, true}}));

  s.currentProfile = Profile::Public;
  ASSERT_TRUE(WriteState(s));
  EXPECT_EQ(domain->put_FirewallEnabled(VARIANT_TRUE), S_OK);
  VARIANT_BOOL on = VARIANT_FALSE;
  EXPECT_EQ(domain->get_FirewallEnabled(&on), S_OK);
  EXPECT_EQ(on, VARIANT_TRUE);
  EXPECT_EQ(standard->put_FirewallEnabled(VARIANT_FALSE), S_OK);
  s = Read();
  EXPECT_TRUE(s.IsOn(Profile::Domain));
  EXPECT_TRUE(s.IsOn(Profile::Private)) << "standard is the public category on a public network";
  EXPECT_EQ(standard->put_FirewallEnabled(VARIANT_TRUE), S_OK);
  EXPECT_TRUE(Read().IsOn(Profile::Public));
}

class ServiceExceptionTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    HostState s = Read();
    s.serviceExceptions.push_back(ServiceException{LegacyProfile::Standard, ServiceType::FileAndPrint, "SUBNET",
                                                   DefaultServicePorts(ServiceType::FileAndPrint, true)});
    s.serviceExceptions.push_back(ServiceException{LegacyProfile::Domain, ServiceType::RemoteDesktop, "ALL",
                                                   DefaultServicePorts(ServiceType::RemoteDesktop, false)});
    ASSERT_TRUE(WriteState(s));
  }
  ComPtr<INetFwProfile> Profile(NET_FW_PROFILE_TYPE type) {
    ComPtr<INetFwMgr> manager;
    ComPtr<INetFwPolicy> local;
    ComPtr<INetFwProfile> profile;
    EXPECT_EQ(Create(CLSID_NetFwMgr, manager), S_OK);
    if (manager) {
      EXPECT_EQ(manager->get_LocalPolicy(&local), S_OK);
    }
    if (local) {
      EXPECT_EQ(local->GetProfileByType(type, &profile), S_OK);
    }
    return profile;
  }
};

TEST_F(ServiceExceptionTest, FileAndPrinterSharingShowsItsFourPortsInItsProfileOnly) {
  ComPtr<INetFwServices> services;
  ASSERT_EQ(Profile(NET_FW_PROFILE_STANDARD)->get_Services(&services), S_OK);
  LONG count = 0;
  EXPECT_EQ(services->get_Count(&count), S_OK);
  EXPECT_EQ(count, 1);
  ComPtr<INetFwService> fps;
  ASSERT_EQ(services->Item(NET_FW_SERVICE_FILE_AND_PRINT, &fps), S_OK);
  NET_FW_SERVICE_TYPE type = NET_FW_SERVICE_NONE;
  VARIANT_BOOL enabled = VARIANT_FALSE, customized = VARIANT_TRUE;
  NET_FW_SCOPE scope = NET_FW_SCOPE_ALL;
  EXPECT_EQ(fps->get_Type(&type), S_OK);
  EXPECT_EQ(type, NET_FW_SERVICE_FILE_AND_PRINT);
  EXPECT_EQ(fps->get_Enabled(&enabled), S_OK);
  EXPECT_EQ(enabled, VARIANT_TRUE);
  EXPECT_EQ(fps->get_Customized(&customized), S_OK);
  EXPECT_EQ(customized, VARIANT_FALSE);
  EXPECT_EQ(fps->get_Scope(&scope), S_OK);
  EXPECT_EQ(scope, NET_FW_SCOPE_LOCAL_SUBNET);
  ComPtr<INetFwOpenPorts> ports;
  ASSERT_EQ(fps->get_GloballyOpenPorts(&ports), S_OK);
  using Entry = std::tuple<long, long, bool>;
  EXPECT_EQ(WalkPorts(ports.Get()),
            (std::vector<Entry>{{139, 6, true}, {445, 6, true}, {137, 17, true}, {138, 17, true}}));
  ComPtr<INetFwService> absent;
  EXPECT_TRUE(FAILED(services->Item(NET_FW_SERVICE_REMOTE_DESKTOP, &absent)));
  EXPECT_EQ(absent, nullptr);
  // Its ports are not the profile's globally open ports.
  ComPtr<INetFwOpenPorts> profilePorts;
  ComPtr<INetFwOpenPort> port;
  ASSERT_EQ(Profile(NET_FW_PROFILE_STANDARD)->get_GloballyOpenPorts(&profilePorts), S_OK);
  EXPECT_TRUE(FAILED(profilePorts->Item(138, NET_FW_IP_PROTOCOL_UDP, &port)));

  ComPtr<INetFwServices> domainServices;
  ComPtr<INetFwService> rdp;
  ASSERT_EQ(Profile(NET_FW_PROFILE_DOMAIN)->get_Services(&domainServices), S_OK);
  ASSERT_EQ(domainServices->Item(NET_FW_SERVICE_REMOTE_DESKTOP, &rdp), S_OK);
  EXPECT_EQ(rdp->get_Enabled(&enabled), S_OK);
  EXPECT_EQ(enabled, VARIANT_FALSE);
}

TEST_F(ServiceExceptionTest, SwitchingAServiceOrOnePortWritesThrough) {
  ComPtr<INetFwServices> services;
  ComPtr<INetFwService> fps;
  ASSERT_EQ(Profile(NET_FW_PROFILE_STANDARD)->get_Services(&services), S_OK);
  ASSERT_EQ(services->Item(NET_FW_SERVICE_FILE_AND_PRINT, &fps), S_OK);
  ComPtr<INetFwOpenPorts> ports;
  ComPtr<INetFwOpenPort> smb;
  ASSERT_EQ(fps->get_GloballyOpenPorts(&ports), S_OK);
  ASSERT_EQ(ports->Item(445, NET_FW_IP_PROTOCOL_TCP, &smb), S_OK);
  EXPECT_EQ(smb->put_Enabled(VARIANT_FALSE), S_OK);
  VARIANT_BOOL enabled = VARIANT_TRUE, customized = VARIANT_FALSE;
  EXPECT_EQ(fps->get_Enabled(&enabled), S_OK);
  EXPECT_EQ(enabled, VARIANT_FALSE) << "one closed port makes the service read as not enabled";
  EXPECT_EQ(fps->get_Customized(&customized), S_OK);
  EXPECT_EQ(customized, VARIANT_TRUE);
  EXPECT_EQ(ports->Remove(139, NET_FW_IP_PROTOCOL_TCP), E_ACCESSDENIED);

  EXPECT_EQ(fps->put_Enabled(VARIANT_FALSE), S_OK);
  HostState s = Read();
  const ServiceException* stored = s.FindServiceException(LegacyProfile::Standard, ServiceType::FileAndPrint);
  ASSERT_NE(stored, nullptr);
  for (const auto& p : stored->ports) EXPECT_FALSE(p.enabled) << p.port;
  EXPECT_EQ(stored->ports.size(), 4u);
}

TEST_F(ServiceExceptionTest, ScopeAndSwitchOfTheServiceCoverEveryPort) {
  ComPtr<INetFwServices> services;
  ComPtr<INetFwService> fps;
  ASSERT_EQ(Profile(NET_FW_PROFILE_STANDARD)->get_Services(&services), S_OK);
  ASSERT_EQ(services->Item(NET_FW_SERVICE_FILE_AND_PRINT, &fps), S_OK);
  ComPtr<INetFwOpenPorts> ports;
  ComPtr<INetFwOpenPort> netbios;
  ASSERT_EQ(fps->get_GloballyOpenPorts(&ports), S_OK);
  ASSERT_EQ(ports->Item(137, NET_FW_IP_PROTOCOL_UDP, &netbios), S_OK);
  ASSERT_EQ(netbios->put_Enabled(VARIANT_FALSE), S_OK);

  EXPECT_EQ(fps->put_Enabled(VARIANT_TRUE), S_OK);
  EXPECT_EQ(fps->put_Scope(NET_FW_SCOPE_ALL), S_OK);
  EXPECT_EQ(fps->put_Scope(NET_FW_SCOPE_CUSTOM), E_INVALIDARG);
  HostState s = Read();
  const ServiceException* stored = s.FindServiceException(LegacyProfile::Standard, ServiceType::FileAndPrint);
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->scope, "ALL");
  for (const auto& p : stored->ports) EXPECT_TRUE(p.enabled) << p.port;
  for (long port : {139L, 445L}) {
    ComPtr<INetFwOpenPort> entry;
    NET_FW_SCOPE scope = NET_FW_SCOPE_LOCAL_SUBNET;
    ASSERT_EQ(ports->Item(port, NET_FW_IP_PROTOCOL_TCP, &entry), S_OK);
    EXPECT_EQ(entry->get_Scope(&scope), S_OK);
    EXPECT_EQ(scope, NET_FW_SCOPE_ALL) << port;
  }
  // The other profile's exception is its own.
  EXPECT_EQ(s.FindServiceException(LegacyProfile::Domain, ServiceType::RemoteDesktop)->Enabled(), false);
}

TEST_F(ServiceExceptionTest, ExceptionsNotAllowedIsKeptPerProfile) {
  VARIANT_BOOL none = VARIANT_TRUE;
  EXPECT_EQ(Profile(NET_FW_PROFILE_STANDARD)->get_ExceptionsNotAllowed(&none), S_OK);
  EXPECT_EQ(none, VARIANT_FALSE);
  EXPECT_EQ(Profile(NET_FW_PROFILE_STANDARD)->put_ExceptionsNotAllowed(VARIANT_TRUE), S_OK);
  EXPECT_TRUE(Read().ExceptionsNotAllowed(LegacyProfile::Standard));
  EXPECT_FALSE(Read().ExceptionsNotAllowed(LegacyProfile::Domain));
}

TEST_F(ServerTest, CurrentProfileTypesNamesEveryProfileInForce) {
  ComPtr<INetFwPolicy2> policy;
  ASSERT_EQ(Create(CLSID_NetFwPolicy2, policy), S_OK);
  LONG types = 0;
  EXPECT_EQ(policy->get_CurrentProfileTypes(&types), S_OK);
  EXPECT_EQ(types, NET_FW_PROFILE2_PRIVATE);
  HostState s = Read();
  s.currentProfileTypes = NET_FW_PROFILE2_DOMAIN | NET_FW_PROFILE2_PUBLIC;
  ASSERT_TRUE(WriteState(s));
  EXPECT_EQ(policy->get_CurrentProfileTypes(&types), S_OK);
  EXPECT_EQ(types, NET_FW_PROFILE2_DOMAIN | NET_FW_PROFILE2_PUBLIC);
}

TEST_F(ServerTest, ProfileHeldByGroupPolicyAcceptsSwitchesWithoutEffect) {
  HostState s = Read();
  s.currentProfile = Profile::Domain;
  s.heldByGroupPolicy = NET_FW_PROFILE2_DOMAIN;
  ASSERT_TRUE(WriteState(s));
  ComPtr<INetFwPolicy2> policy;
  ASSERT_EQ(Create(CLSID_NetFwPolicy2, policy), S_OK);
  EXPECT_EQ(policy->put_FirewallEnabled(NET_FW_PROFILE2_DOMAIN, VARIANT_TRUE), S_OK);
  EXPECT_EQ(policy->put_FirewallEnabled(NET_FW_PROFILE2_PRIVATE, VARIANT_TRUE), S_OK);
  NET_FW_MODIFY_STATE modify = NET_FW_MODIFY_STATE_OK;
  EXPECT_EQ(policy->get_LocalPolicyModifyState(&modify), S_OK);
  EXPECT_EQ(modify, NET_FW_MODIFY_STATE_GP_OVERRIDE);
  ComPtr<INetFwMgr> manager;
  ComPtr<INetFwPolicy> local;
  ComPtr<INetFwProfile> current;
  ASSERT_EQ(Create(CLSID_NetFwMgr, manager), S_OK);
  ASSERT_EQ(manager->get_LocalPolicy(&local), S_OK);
  ASSERT_EQ(local->get_CurrentProfile(&current), S_OK);
  EXPECT_EQ(current->put_FirewallEnabled(VARIANT_TRUE), S_OK);
  s = Read();
  EXPECT_FALSE(s.IsOn(Profile::Domain));
  EXPECT_TRUE(s.IsOn(Profile::Private));
}

TEST_F(ServerTest, PolicyRefusesExactlyTheConfiguredAdd) {
  HostState s = Read();
  s.refuseAddNumber = 2;
  ASSERT_TRUE(WriteState(s));
  ComPtr<INetFwPolicy2> policy;
  ComPtr<INetFwRules> rules;
  ASSERT_EQ(Create(CLSID_NetFwPolicy2, policy), S_OK);
  ASSERT_EQ(policy->get_Rules(&rules), S_OK);
  EXPECT_EQ(rules->Add(NewBlockRule(L"one", 6, L"445").Get()), S_OK);
  // A plain failure: a denial would read as missing rights.
  EXPECT_EQ(rules->Add(NewBlockRule(L"two", 17, L"445").Get()), E_FAIL);
  EXPECT_EQ(rules->Add(NewBlockRule(L"three", 6, L"135").Get()), S_OK);
  s = Read();
  ASSERT_EQ(s.rules.size(), 2u);
  EXPECT_EQ(s.rules[0].name, "one");
  EXPECT_EQ(s.rules[1].name, "three");
  EXPECT_EQ(s.addsSeen, 3);
}

// A fault planned in the host file: counted only by the method it names,
// from its planning on, in every process; a success code still does the work.
TEST_F(ServerTest, FaultsPlannedInTheFileAnswerTheirCallAndAreCountedThere) {
  HostState s = Read();
  s.faultPlan.push_back(PlannedFault{"RulesAdd", 2, E_ACCESSDENIED, std::nullopt, "", 0});
  s.faultPlan.push_back(PlannedFault{"Policy2GetFirewallEnabled", 0, S_FALSE, VARIANT_TRUE, "", 0});
  ASSERT_TRUE(WriteState(s));
  ComPtr<INetFwPolicy2> policy;
  ComPtr<INetFwRules> rules;
  ASSERT_EQ(Create(CLSID_NetFwPolicy2, policy), S_OK);
  ASSERT_EQ(policy->get_Rules(&rules), S_OK);
  EXPECT_EQ(rules->Add(NewBlockRule(L"one", 6, L"445").Get()), S_OK);
  EXPECT_EQ(rules->Add(NewBlockRule(L"two", 17, L"445").Get()), E_ACCESSDENIED);
  EXPECT_EQ(rules->Add(NewBlockRule(L"three", 6, L"135").Get()), S_OK);
  VARIANT_BOOL on = VARIANT_FALSE;
  EXPECT_EQ(policy->get_FirewallEnabled(NET_FW_PROFILE2_PUBLIC, &on), S_FALSE);
  EXPECT_EQ(on, VARIANT_TRUE);  // the planned value, not the state's
  s = Read();
  ASSERT_EQ(s.rules.size(), 2u);
  EXPECT_EQ(s.rules[1].name, "three");
  ASSERT_EQ(s.faultPlan.size(), 2u);
  EXPECT_EQ(s.faultPlan[0].seen, 3);
  EXPECT_EQ(s.faultPlan[1].seen, 1);
}

// The policy answers while its service runs, and fails as Windows does
// (EPT_S_NOT_REGISTERED) while it is stopped or missing; creation and new
// rule objects do not need it.
TEST_F(ServerTest, PolicyCallsFailWhileTheFirewallServiceIsStoppedOrMissing) {
  for (const char* state : {"stopped", "missing", "running"}) {
    SCOPED_TRACE(state);
    HostState s = Read();
    s.firewallNeedsService = true;
    s.services.clear();
    if (std::string(state) != "missing") {
      s.services.push_back(ServiceSetup{});
      s.services.back().name = "MpsSvc";
      s.services.back().recordedState = state;
    }
    ASSERT_TRUE(WriteState(s));
    const HRESULT expected = std::string(state) == "running" ? S_OK : HRESULT_FROM_WIN32(EPT_S_NOT_REGISTERED);
    ComPtr<INetFwPolicy2> policy;
    ComPtr<INetFwRules> rules;
    ASSERT_EQ(Create(CLSID_NetFwPolicy2, policy), S_OK);
    VARIANT_BOOL on = VARIANT_FALSE;
    EXPECT_EQ(policy->get_FirewallEnabled(NET_FW_PROFILE2_PUBLIC, &on), expected);
    EXPECT_EQ(policy->put_FirewallEnabled(NET_FW_PROFILE2_PUBLIC, VARIANT_TRUE), expected);
    ASSERT_EQ(policy->get_Rules(&rules), S_OK);
    EXPECT_EQ(rules->Add(NewBlockRule(L"one", 6, L"445").Get()), expected);
    ComPtr<IUnknown> walk;
    EXPECT_EQ(rules->get__NewEnum(&walk), expected);
    EXPECT_EQ(Read().IsOn(Profile::Public), expected == S_OK);
  }
  // The legacy manager needs its own service, SharedAccess.
  ComPtr<INetFwMgr> manager;
  ComPtr<INetFwPolicy> local;
  ComPtr<INetFwProfile> profile;
  ASSERT_EQ(Create(CLSID_NetFwMgr, manager), S_OK);
  ASSERT_EQ(manager->get_LocalPolicy(&local), S_OK);
  EXPECT_EQ(local->get_CurrentProfile(&profile), HRESULT_FROM_WIN32(EPT_S_NOT_REGISTERED));
}

// The server counts its live objects: it may be unloaded only once the last
// object is gone.
TEST_F(ServerTest, ServerStaysLoadedWhileAnyObjectLives) {
  auto canUnload =
      reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
  ASSERT_NE(canUnload, nullptr);
  {
    ComPtr<INetFwPolicy2> policy;
    ComPtr<INetFwRules> rules;
    ASSERT_EQ(Create(CLSID_NetFwPolicy2, policy), S_OK);
    ASSERT_EQ(policy->get_Rules(&rules), S_OK);
    policy.Reset();
    EXPECT_EQ(canUnload(), S_FALSE);
  }
  EXPECT_EQ(canUnload(), S_OK);
}

// A standard user's view: everything reads, no change goes through, and
// nothing of the host changes.
TEST_F(ServiceExceptionTest, HostDenyingChangesRefusesEveryChangeAndStillReads) {
  HostState s = Read();
  s.rules.push_back(FirewallRule{});
  s.rules.back().name = "existing";
  s.denyChanges = true;
  ASSERT_TRUE(WriteState(s));
  const std::string before = SerializeState(s);

  ComPtr<INetFwPolicy2> policy;
  ComPtr<INetFwRules> rules;
  ASSERT_EQ(Create(CLSID_NetFwPolicy2, policy), S_OK);
  ASSERT_EQ(policy->get_Rules(&rules), S_OK);
  VARIANT_BOOL on = VARIANT_TRUE;
  EXPECT_EQ(policy->get_FirewallEnabled(NET_FW_PROFILE2_PRIVATE, &on), S_OK);
  EXPECT_EQ(on, VARIANT_FALSE);
  EXPECT_EQ(policy->put_FirewallEnabled(NET_FW_PROFILE2_PRIVATE, VARIANT_TRUE), E_ACCESSDENIED);
  auto added = NewBlockRule(L"new", 6, L"445");  // a rule object of one's own takes every put
  EXPECT_EQ(rules->Add(added.Get()), E_ACCESSDENIED);
  EXPECT_EQ(rules->Remove(Bstr(L"existing")), E_ACCESSDENIED);
  EXPECT_EQ(rules->Remove(Bstr(L"absent")), E_ACCESSDENIED);
  ComPtr<INetFwRule> existing;
  ASSERT_EQ(rules->Item(Bstr(L"existing"), &existing), S_OK);
  EXPECT_EQ(existing->put_Enabled(VARIANT_TRUE), E_ACCESSDENIED);
  VARIANT_BOOL enabled = VARIANT_TRUE;
  EXPECT_EQ(existing->get_Enabled(&enabled), S_OK);
  EXPECT_EQ(enabled, VARIANT_FALSE) << "a refused put leaves the live object as it was";

  ComPtr<INetFwProfile> standard = Profile(NET_FW_PROFILE_STANDARD);
  ASSERT_NE(standard, nullptr);
  EXPECT_EQ(standard->put_FirewallEnabled(VARIANT_TRUE), E_ACCESSDENIED);
  EXPECT_EQ(standard->put_ExceptionsNotAllowed(VARIANT_TRUE), E_ACCESSDENIED);
  ComPtr<INetFwOpenPorts> ports = OpenPortsOf(standard.Get());
  ComPtr<INetFwOpenPort> smb;
  ASSERT_EQ(ports->Item(445, NET_FW_IP_PROTOCOL_TCP, &smb), S_OK);
  EXPECT_EQ(smb->put_Enabled(VARIANT_FALSE), E_ACCESSDENIED);
  EXPECT_EQ(smb->put_Name(Bstr(L"x")), E_ACCESSDENIED);
  EXPECT_EQ(smb->put_Scope(NET_FW_SCOPE_LOCAL_SUBNET), E_ACCESSDENIED);
  EXPECT_EQ(ports->Remove(445, NET_FW_IP_PROTOCOL_TCP), E_ACCESSDENIED);
  EXPECT_EQ(ports->Add(smb.Get()), E_ACCESSDENIED);
  ComPtr<INetFwServices> services;
  ComPtr<INetFwService> fps;
  ASSERT_EQ(standard->get_Services(&services), S_OK);
  ASSERT_EQ(services->Item(NET_FW_SERVICE_FILE_AND_PRINT, &fps), S_OK);
  EXPECT_EQ(fps->put_Enabled(VARIANT_FALSE), E_ACCESSDENIED);
  EXPECT_EQ(fps->put_Scope(NET_FW_SCOPE_ALL), E_ACCESSDENIED);
  ComPtr<INetFwOpenPorts> fpsPorts;
  ComPtr<INetFwOpenPort> fpsPort;
  ASSERT_EQ(fps->get_GloballyOpenPorts(&fpsPorts), S_OK);
  ASSERT_EQ(fpsPorts->Item(139, NET_FW_IP_PROTOCOL_TCP, &fpsPort), S_OK);
  EXPECT_EQ(fpsPort->put_Enabled(VARIANT_FALSE), E_ACCESSDENIED);
  EXPECT_EQ(fps->get_Enabled(&enabled), S_OK);
  EXPECT_EQ(enabled, VARIANT_TRUE);

  EXPECT_EQ(SerializeState(Read()), before);
}

TEST_F(ServerTest, RefusalFaultsAndAMissingStateFailCreation) {
  HostState s = Read();
  s.refusePolicy2 = true;
  ASSERT_TRUE(WriteState(s));
  ComPtr<INetFwPolicy2> policy;
  EXPECT_EQ(Create(CLSID_NetFwPolicy2, policy), E_FAIL);
  ComPtr<INetFwRule> rule;
  EXPECT_EQ(Create(CLSID_NetFwRule, rule), S_OK);
  ComPtr<INetFwMgr> manager;
  EXPECT_EQ(Create(CLSID_NetFwMgr, manager), S_OK);
  s.refuseLegacyManager = true;
  ASSERT_TRUE(WriteState(s));
  EXPECT_EQ(Create(CLSID_NetFwMgr, manager), E_FAIL);
  // A standard user creates both and is denied only changes.
  s.refusePolicy2 = s.refuseLegacyManager = false;
  s.denyChanges = true;
  ASSERT_TRUE(WriteState(s));
  EXPECT_EQ(Create(CLSID_NetFwPolicy2, policy), S_OK);
  EXPECT_EQ(Create(CLSID_NetFwMgr, manager), S_OK);
  DeleteFileW(StatePath().c_str());
  EXPECT_EQ(Create(CLSID_NetFwMgr, manager), E_FAIL);
  ComPtr<IUnknown> other;
  EXPECT_EQ(getClassObject_(CLSID_NetFwOpenPort, IID_IClassFactory, reinterpret_cast<void**>(other.GetAddressOf())),
            CLASS_E_CLASSNOTAVAILABLE);
}

// Every process of the host reads the file without a lock, so writers meet
// readers all the time: a reader among the writers must not cost an update.
TEST_F(ServerTest, SharedReadsAnswerTheNewestStateAndLeaveEarlierReadingsWhole) {
  std::shared_ptr<const HostState> first = ReadSharedState();
  ASSERT_TRUE(first);
  EXPECT_EQ(ReadSharedState().get(), first.get());  // the same text is not parsed again

  HostState changed = *first;
  changed.SetOn(Profile::Private, true);
  changed.rules.push_back(FirewallRule{});
  changed.rules.back().name = "new";
  ASSERT_TRUE(WriteState(changed));
  std::shared_ptr<const HostState> second = ReadSharedState();
  ASSERT_TRUE(second);
  EXPECT_NE(second.get(), first.get());
  EXPECT_TRUE(second->IsOn(Profile::Private));
  ASSERT_EQ(second->rules.size(), 1u);
  EXPECT_FALSE(first->IsOn(Profile::Private));
  EXPECT_TRUE(first->rules.empty());

  // The server's own reads see a write made by another module at once.
  ComPtr<INetFwPolicy2> policy;
  ASSERT_EQ(Create(CLSID_NetFwPolicy2, policy), S_OK);
  VARIANT_BOOL on = VARIANT_FALSE;
  ASSERT_EQ(policy->get_FirewallEnabled(NET_FW_PROFILE2_PRIVATE, &on), S_OK);
  EXPECT_EQ(on, VARIANT_TRUE);
  changed.SetOn(Profile::Private, false);
  ASSERT_TRUE(WriteState(changed));
  ASSERT_EQ(policy->get_FirewallEnabled(NET_FW_PROFILE2_PRIVATE, &on), S_OK);
  EXPECT_EQ(on, VARIANT_FALSE);
  ComPtr<INetFwRules> rules;
  ASSERT_EQ(policy->get_Rules(&rules), S_OK);
  LONG count = 0;
  ASSERT_EQ(rules->get_Count(&count), S_OK);
  EXPECT_EQ(count, 1);

  DeleteFileW(StatePath().c_str());
  std::string error;
  EXPECT_FALSE(ReadSharedState(&error));
  EXPECT_NE(error.find("no state file"), std::string::npos) << error;
  EXPECT_EQ(policy->get_FirewallEnabled(NET_FW_PROFILE2_PRIVATE, &on), E_FAIL);
}

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
  Worker reader([&] {
    while (writing) {
      HostState s;
      ReadState(s);
    }
  });
  Worker one(addMany), two(addMany);
  const bool started = reader.started() && one.started() && two.started();
  one.Join();
  two.Join();
  writing = false;
  reader.Join();
  ASSERT_TRUE(started);
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
  Worker closer([held] {
    Sleep(300);
    CloseHandle(held);
  });
  ASSERT_TRUE(closer.started());
  HostState s = Read();
  s.refusePolicy2 = true;
  DWORD t0 = GetTickCount();
  EXPECT_TRUE(WriteState(s));
  EXPECT_GE(GetTickCount() - t0, 200u);
  closer.Join();
  EXPECT_TRUE(Read().refusePolicy2);
}

}  // namespace
