// A small JSON writer for the console program's --json output: two-space
// indentation, keys in the order written, every text escaped and made valid
// UTF-8 on the way in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf::cli {

// The JSON string literal of a text, quotes included: '"' and '\' escaped,
// control characters as \u00XX, invalid UTF-8 as U+FFFD.
std::string JsonString(std::string_view text);

class JsonWriter {
 public:
  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  // Inside an object, before each value.
  void Key(std::string_view key);

  void String(std::string_view text);
  void Int(std::int64_t value);
  void Bool(bool value);
  void Null();
  template <typename T>
  void IntOrNull(const std::optional<T>& value) {
    value ? Int(static_cast<std::int64_t>(*value)) : Null();
  }
  void BoolOrNull(const std::optional<bool>& value) { value ? Bool(*value) : Null(); }

  // The whole document and a newline; the writer must be back at the top.
  std::string Finish();

 private:
  void BeforeValue();
  void NewLine();

  struct Level {
    bool object;
    int members = 0;
  };
  std::string out_;
  std::vector<Level> levels_;
  bool afterKey_ = false;
};

}  // namespace qf::cli
