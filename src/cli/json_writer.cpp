#include "cli/json_writer.h"

#include <cstdio>
#include <stdexcept>

#include "cli/text_safety.h"

namespace qf::cli {

std::string JsonString(std::string_view text) {
  const std::string valid = ValidUtf8(text);
  std::string out = "\"";
  out.reserve(valid.size() + 2);
  for (char c : valid) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[7];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

void JsonWriter::NewLine() {
  out_ += '\n';
  out_.append(levels_.size() * 2, ' ');
}

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (levels_.empty()) {
    if (!out_.empty()) throw std::logic_error("JSON: a second top-level value");
    return;
  }
  if (levels_.back().object) throw std::logic_error("JSON: a value without a key");
  if (levels_.back().members++) out_ += ',';
  NewLine();
}

void JsonWriter::Key(std::string_view key) {
  if (levels_.empty() || !levels_.back().object || afterKey_) throw std::logic_error("JSON: a key outside an object");
  if (levels_.back().members++) out_ += ',';
  NewLine();
  out_ += JsonString(key);
  out_ += ": ";
  afterKey_ = true;
}

void JsonWriter::BeginObject() {
  BeforeValue();
  out_ += '{';
  levels_.push_back({true});
}

void JsonWriter::BeginArray() {
  BeforeValue();
  out_ += '[';
  levels_.push_back({false});
}

void JsonWriter::EndObject() {
  if (levels_.empty() || !levels_.back().object || afterKey_) throw std::logic_error("JSON: unbalanced object");
  const bool empty = levels_.back().members == 0;
  levels_.pop_back();
  if (!empty) NewLine();
  out_ += '}';
}

void JsonWriter::EndArray() {
  if (levels_.empty() || levels_.back().object) throw std::logic_error("JSON: unbalanced array");
  const bool empty = levels_.back().members == 0;
  levels_.pop_back();
  if (!empty) NewLine();
  out_ += ']';
}

void JsonWriter::String(std::string_view text) {
  BeforeValue();
  out_ += JsonString(text);
}

void JsonWriter::Int(std::int64_t value) {
  BeforeValue();
  out_ += std::to_string(value);
}

void JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ += value ? "true" : "false";
}

void JsonWriter::Null() {
  BeforeValue();
  out_ += "null";
}

std::string JsonWriter::Finish() {
  if (!levels_.empty() || afterKey_ || out_.empty()) throw std::logic_error("JSON: unfinished document");
  return out_ + "\n";
}

}  // namespace qf::cli
