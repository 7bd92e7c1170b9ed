// The JSON writer and the text guards under it: whatever bytes arrive, what
// leaves is valid UTF-8 and well-formed JSON.
#include "cli/json_writer.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "cli/text_safety.h"

namespace qf::cli {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(ValidUtf8, KeepsWellFormedTextByteForByte) {
  const std::string texts[] = {"",
                               "plain ASCII",
                               "\xE5\x8A\xA0\xE5\x9B\xBA",  // 加固
                               "\xC2\x80 \xDF\xBF \xE0\xA0\x80 \xED\x9F\xBF \xEE\x80\x80 \xEF\xBF\xBF",
                               "\xF0\x90\x80\x80 \xF0\x9F\x94\x92 \xF4\x8F\xBF\xBF",
                               std::string("nul\0inside", 10)};
  for (const std::string& text : texts) EXPECT_EQ(ValidUtf8(text), text);
}

TEST(ValidUtf8, ReplacesEachIllFormedSubsequenceWithOneReplacementCharacter) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\x80z", "a" + kFffd + "z"},  // stray continuation
      {"\xBF\xBF", kFffd + kFffd},    // two of them
      {"\xC0\xAF", kFffd + kFffd},    // overlong '/': C0 never starts a sequence
      {"\xC1\xBF", kFffd + kFffd},
      {"\xE0\x80\xAF", kFffd + kFffd + kFffd},              // overlong three-byte form
      {"\xED\xA0\x80", kFffd + kFffd + kFffd},              // a surrogate
      {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},  // beyond U+10FFFF
      {"\xF5\x80", kFffd + kFffd},
      {"\xFF", kFffd},
      {"\xE6\x97", kFffd},         // cut off at the end
      {"\xE6\x97z", kFffd + "z"},  // cut off before ASCII: one replacement
      {"\xF0\x9F\x94", kFffd},
      {"\xF0\x9F\x94\xE5\x8A\xA0", kFffd + "\xE5\x8A\xA0"},
      {"\xB7\xC0\xBB\xF0\xC7\xBD",
       kFffd + kFffd + kFffd + kFffd + "\xC7\xBD"},  // code page 936 bytes; C7 BD happens to be U+01FD
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(ValidUtf8(in), out);
    EXPECT_EQ(ValidUtf8(ValidUtf8(in)), out) << "the result is valid in turn";
  }
}

TEST(PrintableLine, EscapesControlCharactersSoTheLineStaysOneLine) {
  EXPECT_EQ(PrintableLine("a\nb\r\tc\x1B[2J\x7F"), "a\\x0Ab\\x0D\\x09c\\x1B[2J\\x7F");
  EXPECT_EQ(PrintableLine(std::string("\0", 1)), "\\x00");
  EXPECT_EQ(PrintableLine("\xE5\x8A\xA0 \xFF"), "\xE5\x8A\xA0 " + kFffd);
}

TEST(JsonString, EscapesQuotesBackslashesAndControlCharacters) {
  EXPECT_EQ(JsonString(""), "\"\"");
  EXPECT_EQ(JsonString("say \"hi\""), "\"say \\\"hi\\\"\"");
  EXPECT_EQ(JsonString("C:\\Windows\\system32"), "\"C:\\\\Windows\\\\system32\"");
  EXPECT_EQ(JsonString("a\nb\tc\rd\x01\x1F\x7F/"), "\"a\\u000Ab\\u0009c\\u000Dd\\u0001\\u001F\\u007F/\"");
  EXPECT_EQ(JsonString(std::string("\0", 1)), "\"\\u0000\"");
  EXPECT_EQ(JsonString("\xE5\x8A\xA0\xFF"), "\"\xE5\x8A\xA0" + kFffd + "\"");
}

TEST(JsonWriter, NestsWithCommasAndIndentation) {
  JsonWriter json;
  json.BeginObject();
  json.Key("a");
  json.Int(-1);
  json.Key("list");
  json.BeginArray();
  json.Bool(true);
  json.Null();
  json.BeginObject();
  json.EndObject();
  json.BeginArray();
  json.EndArray();
  json.EndArray();
  json.Key("k\"ey");
  json.IntOrNull(std::optional<unsigned>(4294967295u));
  json.Key("none");
  json.BoolOrNull(std::nullopt);
  json.EndObject();
  EXPECT_EQ(json.Finish(),
            "{\n"
            "  \"a\": -1,\n"
            "  \"list\": [\n"
            "    true,\n"
            "    null,\n"
            "    {},\n"
            "    []\n"
            "  ],\n"
            "  \"k\\\"ey\": 4294967295,\n"
            "  \"none\": null\n"
            "}\n");
}

TEST(JsonWriter, RefusesMisuseInsteadOfWritingBrokenJson) {
  {
    JsonWriter json;
    json.BeginObject();
    EXPECT_THROW(json.Int(1), std::logic_error);  // a value without a key
  }
  {
    JsonWriter json;
    json.BeginArray();
    EXPECT_THROW(json.Key("k"), std::logic_error);
    EXPECT_THROW(json.EndObject(), std::logic_error);
  }
  {
    JsonWriter json;
    json.BeginObject();
    json.Key("k");
    EXPECT_THROW(json.EndObject(), std::logic_error);  // a key without its value
    EXPECT_THROW(json.Finish(), std::logic_error);
  }
  {
    JsonWriter json;
    EXPECT_THROW(json.Finish(), std::logic_error);  // nothing written
    json.BeginObject();
    json.EndObject();
    EXPECT_THROW(json.BeginObject(), std::logic_error);  // a second document
  }
}

}  // namespace
}  // namespace qf::cli
