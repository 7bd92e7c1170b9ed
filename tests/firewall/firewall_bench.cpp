// Status-panel workload against collections of 100 to 50,000 rules that block
// none of the guarded ports (every rule examined to its local ports), the
// profile in force on: six single walks (IsPortBlocked per port) against one
// walk for all six (ArePortsBlocked). Both include IsFirewallEnabled.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "firewall/advanced_firewall.h"
#include "firewall/com_test_tools.h"
#include "in_process_host_win.h"

namespace {

const std::vector<long> kGuardedPorts = {445, 135, 136, 137, 138, 139};

template <class Refresh>
double MeasureOnce(Refresh refresh) {
  qf::testtools::StdoutCapture quiet;  // the per-rule "Local Ports" lines are part of the work
  const auto start = std::chrono::steady_clock::now();
  refresh();
  const auto stop = std::chrono::steady_clock::now();
  quiet.Take();
  return std::chrono::duration<double, std::micro>(stop - start).count();
}

}  // namespace

int main() {
  int wrong = 0;
  std::printf("%8s  %14s  %14s  %8s\n", "rules", "six walks", "one walk", "speed-up");
  for (int rules : {100, 1000, 10000, 50000}) {
    testbed::InProcessFirewall doubles;
    doubles.host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC) = true;
    doubles.host().FirewallEnabled(NET_FW_PROFILE2_PRIVATE) = true;
    for (int i = 0; i < rules; ++i) {
      doubles.host().rules.push_back(testbed::BlockRule(std::to_string(1024 + i % 60000) + ",8080-8090"));
    }
    CAdvancedFirewall firewall;
    if (!firewall.Initialize()) return 1;
    double six = 1e300;
    double one = 1e300;
    const int repeats = rules >= 10000 ? 3 : 10;
    for (int r = 0; r < repeats; ++r) {
      six = std::min(six, MeasureOnce([&] {
                       wrong += firewall.IsFirewallEnabled() ? 0 : 1;
                       for (long port : kGuardedPorts) wrong += firewall.IsPortBlocked(port) ? 1 : 0;
                     }));
      one = std::min(one, MeasureOnce([&] {
                       wrong += firewall.IsFirewallEnabled() ? 0 : 1;
                       for (bool blocked : firewall.ArePortsBlocked(kGuardedPorts)) wrong += blocked ? 1 : 0;
                     }));
    }
    std::printf("%8d  %11.2f ms  %11.2f ms  %7.1fx\n", rules, six / 1000, one / 1000, six / one);
    std::fflush(stdout);
    firewall.Close();
  }
  return wrong == 0 ? 0 : 2;
}
