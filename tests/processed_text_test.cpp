#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "definitions/definition_table.h"

#include "reference_passes.h"
#include "system/utf16.h"

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
      for (size_t step : {size_t{1}, size_t{2}, size_t{5}, c.in.size() + 1}) {
        EXPECT_EQ(processText(makeTable(c.definitions), c.in, chunk, step), c.expected)
            << c.in << " in pieces of " << chunk << ", read " << step << " at a time";
      }
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
      const size_t step = static_cast<size_t>(round % 5) + 1;
      ASSERT_EQ(processText(table, text, chunk, step), expected) << text << " chunk " << chunk;
    }
  }
}

// Random UTF-16 texts, lone surrogates included, in both byte orders and with an odd last byte,
// against the passes run on their code units.
TEST(ProcessText, MatchesPlainPassesOnRandomUtf16Texts) {
  std::mt19937 random(54321);
  const std::u16string alphabet = u"{}\"\\ \r\nA\t\u00E9\u65E5\xD800\xDC00\xDBFF\xDFFF";
  // Names and values come from a command line in UTF-8, so they hold whole characters only.
  const std::u16string characters[] = {u"{",  u"}", u"\"",     u"\\",     u" ",
                                       u"\n", u"A", u"\u00E9", u"\u65E5", u"\U0001F600"};
  auto randomText = [&](size_t maxLength) {
    std::u16string text(random() % (maxLength + 1), u' ');
    for (char16_t& c : text) c = alphabet[random() % alphabet.size()];
    return text;
  };
  auto randomWord = [&](size_t maxLength) {
    std::u16string word;
    for (size_t n = random() % (maxLength + 1); n > 0; --n) word += characters[random() % 10];
    return word;
  };
  auto bytesOf = [](const std::u16string& units, bool isBigEndian) {
    std::string bytes = isBigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : units) {
      bytes += static_cast<char>(isBigEndian ? unit >> 8 : unit & 0xFF);
      bytes += static_cast<char>(isBigEndian ? unit & 0xFF : unit >> 8);
    }
    return bytes;
  };
  for (int round = 0; round < 2000; ++round) {
    DefinitionTable table;
    std::map<std::u16string, std::u16string> units;
    for (int d = static_cast<int>(random() % 4); d > 0; --d) {
      const std::u16string name = randomWord(2);
      const std::u16string value = randomWord(3);
      table[fromUtf16(name)] = fromUtf16(value);
      units[name] = value;
    }
    const std::u16string text = randomText(40);
    const bool isBigEndian = round % 2 == 1;
    const std::string odd = round % 3 == 0 ? "\x7B" : "";
    const std::string source = bytesOf(text, isBigEndian) + odd;
    const std::string expected = bytesOf(reference::processText(units, text), isBigEndian) + odd;
    std::string processed;
    // Read a few bytes at a time, so that windows cut units and surrogate pairs.
    StringInput input(source, static_cast<size_t>(round % 7) + 1);
    streamProcessedSource(table, input, detectEncoding(source), [&](std::string_view piece) {
      processed.append(piece);
      return true;
    });
    ASSERT_EQ(processed, expected) << round;
  }
}

}  // namespace
}  // namespace kvowrapper
