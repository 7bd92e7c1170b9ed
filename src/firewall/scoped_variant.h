// Owns one VARIANT of an enumeration step: cleared before each reuse and
// when it goes.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace qf::firewall {

class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&value_); }
  ~ScopedVariant() { VariantClear(&value_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT* get() { return &value_; }
  void Clear() { VariantClear(&value_); }

 private:
  VARIANT value_;
};

}  // namespace qf::firewall
