#include <gtest/gtest.h>

#include <random>
#include <string>

#include "driver/definition_table.h"
#include "preprocess/processed_file.h"
#include "reference_passes.h"

namespace kvowrapper {
namespace {

TEST(ProcessText, SubstitutesBeforeJoiningAndStopsAtNul) {
  DefinitionTable table;
  recordDefinition(table, "-DQ=\"");
  recordDefinition(table, "-DV=2");
  table["C"] = " \\";  // recorded options turn backslashes into slashes
  struct Case {
    std::string in;
    std::string expected;
  };
  const Case cases[] = {
      {"\"a{Q} \\\n\"b\"", "\"ab\""},
      {"\"v{V}\"{C}\r\n\"w\"", "\"v2w\""},
      {std::string("ab{V}\0{V}cd", 10), "ab2"},
      {std::string("\0abc", 4), ""},
      {"", ""},
      {"line\r\nline\r\n", "line\r\nline\r\n"},
  };
  for (const auto& c : cases) {
    for (size_t chunk : {size_t{1}, size_t{2}, size_t{3}, kDefaultChunkSize}) {
      EXPECT_EQ(processText(table, c.in, chunk), c.expected) << c.in << " chunk " << chunk;
    }
  }
}

TEST(ProcessText, ExpansionHasNoFixedLimit) {
  DefinitionTable table;
  recordDefinition(table, "-DBIG=" + std::string(5000, 'v'));
  std::string source;
  for (int i = 0; i < 100; ++i) source += "{BIG}\n";
  const std::string out = processText(table, source);
  EXPECT_EQ(out.size(), 100 * 5001u);
  EXPECT_EQ(out, reference::processText(table, source));
}

// Random texts over the bytes that matter, against the passes written the plain way.
TEST(ProcessText, MatchesPlainPassesOnRandomTexts) {
  std::mt19937 random(12345);
  const std::string alphabet = "{}\"\\ \r\nAB\t";
  for (int round = 0; round < 3000; ++round) {
    DefinitionTable table;
    const int definitions = static_cast<int>(random() % 4);
    for (int d = 0; d < definitions; ++d) {
      std::string name;
      const size_t nameLength = random() % 4;
      for (size_t i = 0; i < nameLength; ++i) name += alphabet[random() % alphabet.size()];
      std::string value;
      const size_t valueLength = random() % 4;
      for (size_t i = 0; i < valueLength; ++i) value += alphabet[random() % alphabet.size()];
      table[name] = value;
    }
    std::string text;
    const size_t length = random() % 40;
    for (size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    const std::string expected = reference::processText(table, text);
    for (size_t chunk : {size_t{1}, size_t{4}, kDefaultChunkSize}) {
      ASSERT_EQ(processText(table, text, chunk), expected) << text << " chunk " << chunk;
    }
  }
}

}  // namespace
}  // namespace kvowrapper
