#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "definitions/definition_table.h"

#include "reference_passes.h"

namespace kvowrapper {
namespace {

using Definitions = std::vector<std::pair<std::string, std::string>>;

DefinitionTable makeTable(const Definitions& definitions) {
  DefinitionTable table;
  for (const auto& [name, value] : definitions) table[name] = value;
  return table;
}

// Both passes, each piece size: 1 and 3 put piece boundaries inside every reference and span.
TEST(ProcessText, SubstitutesThenJoins) {
  struct Case {
    Definitions definitions;
    std::string in;
    std::string expected;
  };
  const Definitions a1 = {{"A", "1"}};
  const Case cases[] = {
      {a1, "a{A}b{A}{B}", "a1b1{B}"},
      {{{"A", ""}}, "x{A}y", "xy"},
      {{{"A", "{B}"}, {"B", "2"}}, "{A}", "{B}"},
      {a1, "x{A", "x1"},
      {{{"B", "1"}}, "{A", "{A"},
      {a1, "{{A}}", "{1}"},
      {{{"B", "2"}}, "{A{B}}", "{A2}"},
      {{{"A{B", "V"}, {"B", "2"}}, "{A{B}}", "V}"},
      {{{"", "E"}}, "ab{}{", "abEE"},
      {a1, "ab{}{", "ab{}{"},
      {{{" A", "s"}}, "{ A}{A\r\nB}", "s{A\r\nB}"},
      {{{"B", "2"}}, "{{{{{{{{B}", "{{{{{{{2"},
      {{{"LONG", "1"}, {"ONG", "2"}}, "{LONG}{ONG}{NG}", "12{NG}"},
      {{}, "\"abc\" \\\r\n    \"def\"", "\"abcdef\""},
      {{}, "\"abc\" \\ \n \n \"def\" \\ \"g\"", "\"abcdef\" \\ \"g\""},
      {{},
       "\"abc\" \\\ndef\"\t\\\n\"\"a\" \\\\\n\"b\"",
       "\"abc\" \\\ndef\"\t\\\n\"\"a\" \\\\\n\"b\""},
      {{}, "\"a\" \\\n\"\" \\\n\"b\"", "\"a\" \\\n\"b\""},
      {{}, "\"a\" \\\n\"b\" \\\r\"c\" \\\n\"", "\"abc"},
      {{}, "\\\"a\\\" \\\n\"b\"", "\\\"a\\b\""},
      {{{"Q", "\""}, {"C", " \\"}}, "\"a{Q} \\\n\"b\"{C}\n\"c\"", "\"abc\""},
      {a1, std::string("ab{A}\0{A}", 9), "ab1"},
  };
  for (const auto& c : cases) {
    for (size_t chunk : {size_t{1}, size_t{3}, ProcessedTextStream::kPieceSize}) {
      EXPECT_EQ(processText(makeTable(c.definitions), c.in, chunk), c.expected)
          << c.in << " in pieces of " << chunk;
    }
  }
}

// Random texts over the bytes that matter, against the passes written the plain way.
TEST(ProcessText, MatchesPlainPassesOnRandomTexts) {
  std::mt19937 random(12345);
  const std::string alphabet = "{}\"\\ \r\nAB\t";
  auto randomText = [&](size_t maxLength) {
    std::string text(random() % (maxLength + 1), ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    return text;
  };
  for (int round = 0; round < 3000; ++round) {
    DefinitionTable table;
    for (int d = static_cast<int>(random() % 4); d > 0; --d) table[randomText(3)] = randomText(3);
    const std::string text = randomText(40);
    const std::string expected = reference::processText(table, text);
    for (size_t chunk : {size_t{1}, size_t{4}, ProcessedTextStream::kPieceSize}) {
      ASSERT_EQ(processText(table, text, chunk), expected) << text << " chunk " << chunk;
    }
  }
}

}  // namespace
}  // namespace kvowrapper
