// The rule walk's cost without the platform: property reads and time per
// walk of the guarded ports over 1,000 to 50,000 rules, the reach test
// included. Two policies: rules that block none of the ports (every rule
// read to its local ports, as the Windows benchmark does) and narrowed block
// rules that all cover 445 (the reach read for every rule). Not a test:
// build/native/tests/firewall/block_tally_bench
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "firewall/port_exposure.h"

namespace {

using namespace qf::firewall;

struct Rule {
  long action = kActionBlock;
  std::wstring localPorts;
  std::wstring remoteAddresses = L"*";
};

long g_reads = 0;

class Properties final : public RuleProperties, public RuleReach {
 public:
  explicit Properties(const Rule& rule) : rule_(rule) {}
  std::optional<bool> Enabled() override { return ++g_reads, true; }
  std::optional<long> Direction() override { return ++g_reads, kDirectionInbound; }
  std::optional<long> Action() override { return ++g_reads, rule_.action; }
  std::optional<long> Protocol() override { return ++g_reads, kProtocolAny; }
  std::optional<long> Profiles() override { return ++g_reads, kKnownProfiles; }
  std::optional<std::wstring> LocalPorts() override { return ++g_reads, rule_.localPorts; }
  std::optional<std::wstring> ApplicationName() override { return ++g_reads, std::wstring(); }
  std::optional<std::wstring> ServiceName() override { return ++g_reads, std::wstring(); }
  std::optional<std::wstring> RemoteAddresses() override { return ++g_reads, rule_.remoteAddresses; }
  std::optional<std::wstring> LocalAddresses() override { return ++g_reads, std::wstring(L"*"); }
  std::optional<std::wstring> RemotePorts() override { return ++g_reads, std::wstring(); }
  std::optional<std::wstring> InterfaceTypes() override { return ++g_reads, std::wstring(L"All"); }
  std::optional<bool> NamesInterfaces() override { return ++g_reads, false; }
  std::optional<std::wstring> OtherCondition() override { return ++g_reads, std::wstring(); }
  std::optional<std::wstring> Name() override { return ++g_reads, std::wstring(L"narrow"); }

 private:
  const Rule& rule_;
};

const std::vector<long> kGuardedPorts = {445, 135, 136, 137, 138, 139};

double Walk(const std::vector<Rule>& rules, long& reads) {
  g_reads = 0;
  const auto start = std::chrono::steady_clock::now();
  BlockTally tally(kGuardedPorts, kProfilePublic);
  for (const Rule& rule : rules) {
    Properties properties(rule);
    tally.Examine(properties, properties);
    if (tally.Complete()) break;
  }
  const auto stop = std::chrono::steady_clock::now();
  reads = g_reads;
  return std::chrono::duration<double, std::micro>(stop - start).count();
}

void Measure(const char* policy, const std::vector<Rule>& rules) {
  double best = 1e300;
  long reads = 0;
  for (int r = 0; r < 7; ++r) best = std::min(best, Walk(rules, reads));
  std::printf("%-18s %7zu  %10ld  %9.2f ms\n", policy, rules.size(), reads, best / 1000);
}

}  // namespace

int main() {
  std::printf("%-18s %7s  %10s  %12s\n", "policy", "rules", "reads", "walk");
  for (int count : {1000, 10000, 50000}) {
    std::vector<Rule> none(count);
    std::vector<Rule> narrowed(count);
    for (int i = 0; i < count; ++i) {
      none[i].localPorts = std::to_wstring(1024 + i % 60000) + L",8080-8090";
      narrowed[i].localPorts = L"445";
      narrowed[i].remoteAddresses = L"10.1.2." + std::to_wstring(i % 250);
    }
    Measure("blocks none", none);
    Measure("narrowed on 445", narrowed);
  }
  return 0;
}
