// Told around every step of a run whose outcome counts; a front may keep
// what the firewall and service code wrote meanwhile.
#pragma once

#include <cstdint>
#include <string>

class StepObserver {
 public:
  virtual ~StepObserver() = default;
  virtual void StepStarting(const std::string& step) { (void)step; }
  virtual void StepEnded(const std::string& step, std::uint32_t code) {
    (void)step;
    (void)code;
  }
};
