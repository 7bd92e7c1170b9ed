// Status-panel workload against collections of 100, 1,000 and 10,000 rules
// that match none of the guarded ports (every rule examined, six walks).
#include <windows.h>

#include <chrono>
#include <cstdio>

#include "firewall/advanced_firewall.h"
#include "firewall/doubles/firewall_doubles.h"

namespace {

constexpr int kGuardedPorts[] = {445, 135, 136, 137, 138, 139};

double MeasureOnce(qf::fwdouble::FirewallHost& host, CAdvancedFirewall& firewall, int& blocked) {
  qf::fwdouble::StdoutCapture quiet;  // the per-rule "Local Ports" lines are part of the work
  const auto start = std::chrono::steady_clock::now();
  firewall.IsFirewallEnabled();
  for (int port : kGuardedPorts) blocked += firewall.IsPortBlocked(port) ? 1 : 0;
  const auto stop = std::chrono::steady_clock::now();
  quiet.Take();
  (void)host;
  return std::chrono::duration<double, std::micro>(stop - start).count();
}

}  // namespace

int main() {
  int failures = 0;
  double previousPerRule = 0;
  for (int rules : {100, 1000, 10000}) {
    qf::fwdouble::FirewallDoubles doubles;
    for (int i = 0; i < rules; ++i) {
      doubles.host().rules.push_back(qf::fwdouble::BlockRule(std::to_wstring(1024 + i % 60000) + L",8080-8090"));
    }
    CAdvancedFirewall firewall;
    if (!firewall.Initialize()) return 1;
    int blocked = 0;
    double best = 1e300;
    const int repeats = rules >= 10000 ? 3 : 10;
    for (int r = 0; r < repeats; ++r) best = std::min(best, MeasureOnce(doubles.host(), firewall, blocked));
    failures += blocked;
    const double examined = 6.0 * rules;
    const double perRule = best / examined;
    std::printf("rules=%6d  refresh=%10.1f us  per examined rule=%6.3f us%s\n", rules, best, perRule,
                previousPerRule > 0 ? (perRule > 1.5 * previousPerRule ? "  (grows faster than linear)" : "  (linear)")
                                    : "");
    previousPerRule = perRule;
    firewall.Close();
  }
  return failures == 0 ? 0 : 2;
}
