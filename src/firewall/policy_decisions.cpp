#include "firewall/policy_decisions.h"

#include <cwchar>

namespace qf::firewall {

namespace {

constexpr wchar_t kResourceModule[] = L"@QXRuleOptions.exe,";

ComposedText Bounded(std::wstring text) {
  if (text.size() >= kRuleTextCapacity) return {ComposeError::TooLong, {}};
  return {ComposeError::None, std::move(text)};
}

}  // namespace

const wchar_t* ProtocolLabel(long protocol) { return protocol == kTcpProtocolNumber ? L"TCP" : L"UDP"; }

ComposedText ComposeRuleName(const wchar_t* protocolLabel, const wchar_t* portText) {
  if (!protocolLabel || !portText) return {ComposeError::MissingText, {}};
  // Measure first so an absurdly long port text is never copied whole.
  const std::size_t length =
      std::char_traits<wchar_t>::length(kResourceModule) + 1 + std::wcslen(protocolLabel) + 1 + std::wcslen(portText);
  if (length >= kRuleTextCapacity) return {ComposeError::TooLong, {}};
  std::wstring name = kResourceModule;
  name += L' ';
  name += protocolLabel;
  name += L'-';
  name += portText;
  return Bounded(std::move(name));
}

ComposedText ComposeResourceReference(int resourceId) {
  return Bounded(std::wstring(kResourceModule) + L'-' + std::to_wstring(resourceId));
}

std::optional<std::wstring> FormatPortText(int port) {
  std::wstring text = std::to_wstring(port);
  if (text.size() >= kPortTextCapacity) return std::nullopt;
  return text;
}

}  // namespace qf::firewall
