// Writes the console program's JSON renderings of a varied set of reports to
// OUTDIR/valid, and corruptions of them that the schema check must refuse to
// OUTDIR/invalid.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "sample_reports.h"

namespace {

bool Write(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << bytes;
  file.close();
  if (!file) std::fprintf(stderr, "cli_samples: cannot write %s\n", path.string().c_str());
  return static_cast<bool>(file);
}

// text with its first `from` replaced by `to`; empty when `from` is missing,
// so that a corruption that did not happen is noticed.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  if (at == std::string::npos) return {};
  return text.replace(at, from.size(), to);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: cli_samples OUTDIR\n");
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path valid = fs::path(argv[1]) / "valid";
  const fs::path invalid = fs::path(argv[1]) / "invalid";
  std::error_code ignored;
  fs::remove_all(argv[1], ignored);
  fs::create_directories(valid);
  fs::create_directories(invalid);

  const auto samples = qf::cli::samples::ValidJsonSamples();
  bool ok = true;
  for (const auto& sample : samples) ok &= Write(valid / (sample.name + ".json"), sample.json);

  auto named = [&](const std::string& name) {
    for (const auto& sample : samples) {
      if (sample.name == name) return sample.json;
    }
    return std::string();
  };
  const std::string status = named("status-advanced-hardened");
  const std::string harden = named("harden-changed");
  const std::string failed = named("harden-failed");
  const std::string restore = named("restore-restored");
  const std::pair<const char*, std::string> corruptions[] = {
      {"extra-property", Replaced(status, "\"schemaVersion\": 1,", "\"schemaVersion\": 1,\n  \"extra\": true,")},
      {"extra-nested-property", Replaced(status, "\"port\": 445,", "\"port\": 445,\n \"rule\": \"x\",")},
      {"schema-version-2", Replaced(status, "\"schemaVersion\": 1", "\"schemaVersion\": 2")},
      {"missing-changed", Replaced(harden, "\n  \"changed\": true,", "")},
      {"boolean-as-text", Replaced(status, "\"hardened\": true", "\"hardened\": \"true\"")},
      {"null-where-required", Replaced(status, "\"tcpBlocked\": true", "\"tcpBlocked\": null")},
      {"unknown-command", Replaced(status, "\"command\": \"status\"", "\"command\": \"check\"")},
      {"harden-fields-on-restore", Replaced(restore, "\"command\": \"restore\"", "\"command\": \"harden\"")},
      {"bad-code-hex", Replaced(failed, "\"0x80004005\"", "\"0x80004005L\"")},
      {"raw-invalid-utf8", Replaced(status, "WIN7X64", "WIN7\xFFX64")},
      {"duplicate-key", Replaced(status, "\"schemaVersion\": 1,", "\"schemaVersion\": 1,\n  \"command\": \"status\",")},
      {"two-objects", status + status},
      {"no-final-newline", status.substr(0, status.size() - 1)},
      {"an-array", "[" + status.substr(0, status.size() - 1) + "]\n"},
      {"role-missing-shares-error", Replaced(status, "\n    \"sharesError\": null,", "")},
      {"role-unknown-product-type", Replaced(status, "\"productType\": \"workstation\"", "\"productType\": \"WinNT\"")},
      {"refused-as-text", Replaced(harden, "\"refused\": false", "\"refused\": \"no\"")},
  };
  for (const auto& [name, text] : corruptions) {
    if (text.empty()) {
      std::fprintf(stderr, "cli_samples: the corruption %s found nothing to corrupt\n", name);
      ok = false;
      continue;
    }
    ok &= Write(invalid / (std::string(name) + ".json"), text);
  }
  std::printf("cli_samples: %zu valid and %zu invalid samples in %s\n", samples.size(), std::size(corruptions),
              argv[1]);
  return ok ? 0 : 1;
}
