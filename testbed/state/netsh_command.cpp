#include "netsh_command.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <optional>

namespace testbed {
namespace {

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

NetshOutcome Reject(std::string message) { return {1, std::move(message)}; }

// Named and positional parameters of one command, keys upper-cased.
using Parameters = std::map<std::string, std::string>;

// Joins "key = value", "key= value", "key =value" and "key=value" into one
// named parameter; a lone word is the next positional parameter.
std::optional<Parameters> ReadParameters(const std::vector<std::string>& words, size_t first,
                                         const std::vector<std::string>& positionalOrder, std::string& error) {
  Parameters params;
  size_t nextPositional = 0;
  auto store = [&](std::string key, std::string value) {
    if (std::find(positionalOrder.begin(), positionalOrder.end(), key) == positionalOrder.end()) {
      error = "unknown parameter " + key;
      return false;
    }
    if (!params.emplace(key, std::move(value)).second) {
      error = "parameter given twice: " + key;
      return false;
    }
    return true;
  };
  for (size_t i = first; i < words.size(); ++i) {
    const std::string& word = words[i];
    size_t eq = word.find('=');
    std::string key, value;
    if (eq == std::string::npos && i + 1 < words.size() && words[i + 1].rfind('=', 0) == 0) {
      key = word;  // "key" "=" "value" or "key" "=value"
      value = words[i + 1].substr(1);
      ++i;
      if (value.empty() && i + 1 < words.size()) value = words[++i];
    } else if (eq != std::string::npos) {
      key = word.substr(0, eq);
      value = word.substr(eq + 1);
      if (value.empty() && i + 1 < words.size()) value = words[++i];
    } else {
      while (nextPositional < positionalOrder.size() && params.count(positionalOrder[nextPositional])) ++nextPositional;
      if (nextPositional >= positionalOrder.size()) {
        error = "too many values";
        return std::nullopt;
      }
      if (!store(positionalOrder[nextPositional++], word)) return std::nullopt;
      continue;
    }
    if (key.empty() || value.empty()) {
      error = "parameter without value";
      return std::nullopt;
    }
    if (!store(Upper(key), value)) return std::nullopt;
  }
  return params;
}

std::optional<std::vector<LegacyProfile>> ProfilesOf(const Parameters& params, const HostState& state) {
  auto it = params.find("PROFILE");
  std::string profile = it == params.end() ? "CURRENT" : Upper(it->second);
  if (profile == "CURRENT") return std::vector<LegacyProfile>{CurrentLegacyProfile(state)};
  if (profile == "DOMAIN") return std::vector<LegacyProfile>{LegacyProfile::Domain};
  if (profile == "STANDARD") return std::vector<LegacyProfile>{LegacyProfile::Standard};
  if (profile == "ALL") return std::vector<LegacyProfile>{LegacyProfile::Domain, LegacyProfile::Standard};
  return std::nullopt;
}

std::optional<bool> EnableFlag(const std::string& value) {
  std::string v = Upper(value);
  if (v == "ENABLE") return true;
  if (v == "DISABLE") return false;
  return std::nullopt;
}

NetshOutcome SetOpmode(HostState& state, const std::vector<std::string>& words) {
  std::string error;
  auto params = ReadParameters(words, 3, {"MODE", "EXCEPTIONS", "PROFILE", "INTERFACE"}, error);
  if (!params) return Reject(error);
  if (!params->count("MODE")) return Reject("mode is required");
  auto on = EnableFlag(params->at("MODE"));
  if (!on) return Reject("bad mode " + params->at("MODE"));
  std::optional<bool> exceptions;
  if (params->count("EXCEPTIONS")) {
    exceptions = EnableFlag(params->at("EXCEPTIONS"));
    if (!exceptions) return Reject("bad exceptions " + params->at("EXCEPTIONS"));
  }
  auto profiles = ProfilesOf(*params, state);
  if (!profiles) return Reject("bad profile");
  for (LegacyProfile p : *profiles) {
    state.SwitchLocally(AdvancedProfileOf(p, state), *on);
    if (exceptions) state.SetExceptionsNotAllowed(p, !*exceptions);
  }
  return {0, "Ok."};
}

// Switches every port of a predefined service exception. The platform keeps
// these exceptions on every host, so one the state does not list yet is
// created with its usual ports.
NetshOutcome SetService(HostState& state, const std::vector<std::string>& words) {
  std::string error;
  auto params = ReadParameters(words, 3, {"TYPE", "MODE", "SCOPE", "ADDRESSES", "PROFILE", "INTERFACE"}, error);
  if (!params) return Reject(error);
  if (!params->count("TYPE")) return Reject("type is required");
  std::vector<ServiceType> types;
  std::string type = Upper(params->at("TYPE"));
  // Remote Administration is a setting of its own, not a service exception.
  const bool remoteAdmin = type == "REMOTEADMIN" || type == "ALL";
  if (type == "ALL")
    types = {ServiceType::FileAndPrint, ServiceType::Upnp, ServiceType::RemoteDesktop};
  else if (auto known = ServiceTypeFromName(type))
    types = {*known};
  else if (!remoteAdmin)
    return Reject("bad type " + type);

  bool enable = true;
  if (params->count("MODE")) {
    auto flag = EnableFlag(params->at("MODE"));
    if (!flag) return Reject("bad mode " + params->at("MODE"));
    enable = *flag;
  }
  std::optional<std::string> scope;
  if (params->count("SCOPE")) {
    scope = Upper(params->at("SCOPE"));
    if (*scope != "ALL" && *scope != "SUBNET" && *scope != "CUSTOM") return Reject("bad scope " + *scope);
    if (*scope == "CUSTOM" && !params->count("ADDRESSES")) return Reject("scope CUSTOM needs addresses");
  }
  auto profiles = ProfilesOf(*params, state);
  if (!profiles) return Reject("bad profile");

  for (LegacyProfile p : *profiles) {
    if (remoteAdmin) state.SetRemoteAdmin(p, enable);
    for (ServiceType t : types) {
      ServiceException* entry = state.FindServiceException(p, t);
      if (!entry) {
        state.serviceExceptions.push_back(ServiceException{p, t, "ALL", DefaultServicePorts(t, enable)});
        entry = &state.serviceExceptions.back();
      }
      entry->SetEnabled(enable);
      if (scope) entry->scope = *scope;
    }
  }
  return {0, "Ok."};
}

NetshOutcome SetPortopening(HostState& state, const std::vector<std::string>& words) {
  std::string error;
  auto params = ReadParameters(
      words, 3, {"PROTOCOL", "PORT", "NAME", "MODE", "SCOPE", "ADDRESSES", "PROFILE", "INTERFACE"}, error);
  if (!params) return Reject(error);
  if (!params->count("PROTOCOL") || !params->count("PORT")) return Reject("protocol and port are required");

  std::vector<long> protocols;
  std::string protocol = Upper(params->at("PROTOCOL"));
  if (protocol == "TCP")
    protocols = {6};
  else if (protocol == "UDP")
    protocols = {17};
  else if (protocol == "ALL")
    protocols = {6, 17};
  else
    return Reject("bad protocol " + protocol);

  const std::string& portText = params->at("PORT");
  long port = 0;
  auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
  if (ec != std::errc() || end != portText.data() + portText.size() || port < 1 || port > 65535)
    return Reject("bad port " + portText);

  bool enable = true;
  if (params->count("MODE")) {
    auto flag = EnableFlag(params->at("MODE"));
    if (!flag) return Reject("bad mode " + params->at("MODE"));
    enable = *flag;
  }
  std::string scope = params->count("SCOPE") ? Upper(params->at("SCOPE")) : "ALL";
  if (scope != "ALL" && scope != "SUBNET" && scope != "CUSTOM") return Reject("bad scope " + scope);
  auto profiles = ProfilesOf(*params, state);
  if (!profiles) return Reject("bad profile");

  // Changes an existing opening, or adds it when the profile has none.
  for (LegacyProfile p : *profiles) {
    for (long proto : protocols) {
      OpenPort* entry = state.FindOpenPort(p, port, proto);
      if (!entry) {
        state.openPorts.push_back(OpenPort{p, port, proto, portText, enable, scope, ""});
        entry = &state.openPorts.back();
      }
      entry->enabled = enable;
      entry->scope = scope;
      entry->addresses = scope == "CUSTOM" && params->count("ADDRESSES") ? params->at("ADDRESSES") : "";
      if (params->count("NAME")) entry->name = params->at("NAME");
    }
  }
  return {0, "Ok."};
}

}  // namespace

std::vector<std::string> SplitNetshArguments(std::string_view commandLine) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, quoted = false;
  for (char c : commandLine) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(word));
  if (!words.empty()) words.erase(words.begin());
  return words;
}

NetshOutcome ApplyNetshCommand(HostState& state, const std::vector<std::string>& words) {
  if (words.size() < 3 || Upper(words[0]) != "FIREWALL" || Upper(words[1]) != "SET")
    return Reject("The following command was not found");
  std::string what = Upper(words[2]);
  HostState changed = state;
  NetshOutcome outcome;
  if (what == "OPMODE")
    outcome = SetOpmode(changed, words);
  else if (what == "PORTOPENING")
    outcome = SetPortopening(changed, words);
  else if (what == "SERVICE")
    outcome = SetService(changed, words);
  else
    return Reject("The following command was not found");
  // A standard user's netsh understands the command and refuses to carry it out.
  if (outcome.exitCode == 0 && state.denyChanges) return NetshOutcome{1, "The requested operation requires elevation."};
  if (outcome.exitCode == 0) state = std::move(changed);
  return outcome;
}

std::string MarkWrongNetsh(std::string_view commandLine) {
  return std::string(kWrongNetshMark) + std::string(commandLine);
}

int CountWrongNetshCalls(const std::vector<std::string>& log) {
  int count = 0;
  for (const std::string& line : log)
    if (std::string_view(line).substr(0, kWrongNetshMark.size()) == kWrongNetshMark) ++count;
  return count;
}

}  // namespace testbed
