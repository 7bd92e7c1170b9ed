#include "file_host_win.h"

#include "state_store_win.h"

namespace testbed {
namespace {

class FileHostAccess final : public HostAccess {
 public:
  std::shared_ptr<const HostState> Read() override { return ReadSharedState(); }
  bool Update(const std::function<bool(HostState&)>& change) override { return UpdateState(change); }
  PlannedAnswer Enter(Call call, std::string_view rule) override {
    std::shared_ptr<const HostState> known = LastReadState();
    if (!known) known = ReadSharedState();
    const char* name = CallName(call);
    if (!known || !PlansFor(known->faultPlan, name)) return {};
    PlannedAnswer answer;
    UpdateState([&](HostState& s) {
      answer = TakePlannedAnswer(s.faultPlan, name, rule);
      return true;
    });
    return answer;
  }
};

}  // namespace

HostPtr FileHost() {
  static const HostPtr host = std::make_shared<FileHostAccess>();
  return host;
}

}  // namespace testbed
