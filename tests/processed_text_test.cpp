#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

#include "definitions/definition_table.h"

#include "preprocess/name_index.h"
#include "preprocess/processed_text.h"
#include "reference_passes.h"
#include "system/utf16.h"
#include "utf16_text.h"

namespace kvowrapper {
namespace {

namespace fs = std::filesystem;

// What the program writes into the processed file of a source with these bytes: a regular file,
// or with `step`, a FIFO written that many bytes at a time, so that reads cut units anywhere.
std::string processFile(const DefinitionTable& table, const std::string& source, size_t step = 0) {
  const fs::path folder =
      fs::temp_directory_path() / ("kvowrapper-passes-" + std::to_string(getpid()));
  fs::create_directories(folder);
  const std::string path = (folder / "s.rsrc").string();
  std::thread writer;
  if (step == 0) {
    std::ofstream(path, std::ios::binary) << source;
  } else if (mkfifo(path.c_str(), 0600) == 0) {
    std::signal(SIGPIPE, SIG_IGN);  // the text may end, and the reading with it, at a NUL
    writer = std::thread([&] {
      std::ofstream out(path, std::ios::binary);
      for (size_t at = 0; at < source.size(); at += step) {
        out << source.substr(at, step) << std::flush;
      }
    });
  }
  const std::string output = (folder / "out").string();
  std::string text = "failed";
  const FileHandle in = openSource(path);
  if (writeProcessedText(in, path, table, createNewFile(output).file).isDone()) {
    std::ifstream read(output, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(read), std::istreambuf_iterator<char>());
  }
  if (writer.joinable()) writer.join();
  fs::remove_all(folder);
  return text;
}

// Both passes, in order.
TEST(ProcessText, SubstitutesThenJoins) {
  struct Case {
    DefinitionTable definitions;
    std::string in;
    std::string expected;
  };
  const DefinitionTable a1 = {{"A", "1"}};
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
    EXPECT_EQ(processText(c.definitions, c.in), c.expected) << c.in;
  }
}

// Texts built to make a careless reading of references slow (long runs of opening braces, names
// that never close, many or long names, names holding braces), against the plain passes: the
// bench times the same shapes at 64 MiB.
TEST(ProcessText, MatchesPlainPassesOnHostileTexts) {
  auto repeat = [](std::string_view piece, size_t times) {
    std::string text;
    for (size_t i = 0; i < times; ++i) text += piece;
    return text;
  };
  DefinitionTable many;
  std::string manyText;
  for (int i = 0; i < 1000; ++i) {
    if (i % 8 != 0) many["N" + std::to_string(i)] = "v" + std::to_string(i);
    manyText += "{N" + std::to_string(i) + "}x";
  }
  const std::string longName(3000, 'n');
  // A Thue-Morse word and its complement: any polynomial hash modulo 2^64 gives them one value,
  // so the name's walk meets a brace whose name only hashes as a defined one.
  std::string word = "a";
  std::string other = "b";
  while (word.size() < 2048) std::tie(word, other) = std::pair(word + other, other + word);
  ASSERT_EQ(NameIndex<char>::hashOf(word), NameIndex<char>::hashOf(other));
  const struct {
    DefinitionTable table;
    std::string text;
  } cases[] = {
      {{{"A", "1"}}, std::string(6000, '{')},
      {{{"", "E"}}, std::string(6000, '{')},
      {{{"A", "1"}}, "{" + std::string(6000, 'A')},
      {{{"A", "1"}, {"B", "22"}}, repeat("{A}{B}x", 1000)},
      {{{"A", "1"}}, repeat("{}{X}", 1000)},
      {many, manyText},
      {{{longName, "L"}, {"n", "s"}}, repeat("{" + longName + "}{{n}", 3) + std::string(4000, '{')},
      {{{"{", "o"}, {"{{", "t"}, {"{{{A", "a"}}, repeat("{{{{A}{", 1000)},
      {{{"A", "\""}}, repeat("\"{A} \\\r\n", 1000)},
      {{{word + "{z", "W"}, {"z", "Z"}}, "{" + other + "{z}{" + word + "{z}"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(processText(c.table, c.text), reference::processText(c.table, c.text))
        << c.text.substr(0, 40);
  }
  // Sources of several read windows, so that references and continued strings cross the points
  // where a window is cut, with the text the plain passes give.
  const std::string braces(size_t{600} << 10, '{');
  const struct {
    DefinitionTable table;
    std::string source;
    std::string expected;
  } large[] = {
      {{{"A", "1"}}, braces + "A}", braces.substr(1) + "1"},
      {{{"", "E"}}, braces, braces.substr(1) + "E"},
      {{{longName, "L"}}, braces + longName + "}" + braces, braces.substr(1) + "L" + braces},
      {{{"A", "1"}, {"B", "22"}}, repeat("{A}{B}x", 100000), repeat("122x", 100000)},
      {{}, repeat("\"a\" \\\r\n  \"", 100000) + "b\"", repeat("\"a", 100000) + "b\""},
      {{{"{{A", "v"}}, repeat("{{{A}", 200000), repeat("v", 200000)},
      // A continued string cut where the first pass's pieces are gathered and joined (256 KiB).
      {{{"E", ""}},
       std::string((size_t{256} << 10) - 4, 'x') + "\"a\" {E}\\\r\n\"b\"",
       std::string((size_t{256} << 10) - 4, 'x') + "\"ab\""},
  };
  for (const auto& c : large) {
    EXPECT_EQ(processFile(c.table, c.source), c.expected) << c.source.substr(0, 20);
  }
}

// UTF-16 texts (the fuzzer compares the passes over them) read from a file and through a FIFO
// written a few bytes at a time: several windows, each cut before a character, with surrogate
// pairs, both byte orders and an odd last byte.
TEST(ProcessText, ReadsUtf16TextsWhole) {
  std::u16string large;
  std::u16string expected;
  for (int i = 0; i < 100000; ++i) {
    large += u"\u65E5\u00E9 {A}\U0001F600 ";
    expected += u"\u65E5\u00E9 x\U0001F600 ";
  }
  // A lone surrogate in a value (the wide Windows command line can hold one) is the unit it is.
  // A UTF-8 source on POSIX takes the bytes given (Windows refuses what UTF-8 cannot hold).
  const DefinitionTable lone = {{"H", "\xED\xA0\x80"}, {"L", "\xED\xB0\x80"}};
  EXPECT_EQ(processFile(lone, "\xEF\xBB\xBF{L}"), "\xEF\xBB\xBF\xED\xB0\x80");
  for (const bool isBigEndian : {false, true}) {
    EXPECT_EQ(processFile(lone, testing_support::utf16(u"{H}x{L}", isBigEndian)),
              testing_support::utf16(u"\xD800x\xDC00", isBigEndian));
    for (const size_t step : {0, 1021, 4093}) {
      for (const std::string& odd : {std::string(), std::string("!"), std::string(1, '\0')}) {
        EXPECT_TRUE(processFile({{"A", "x"}}, testing_support::utf16(large, isBigEndian) + odd,
                                step) == testing_support::utf16(expected, isBigEndian) + odd)
            << step << odd;
      }
    }
  }
}

// Values in every range of UTF-8 reach a UTF-16 text as the units they stand for; what is not
// WTF-8 (overlong forms, past U+10FFFF, cut short) is refused.
TEST(Utf16, ConvertsEveryRangeAndRefusesWhatIsNotUtf8) {
  const std::pair<std::string, std::u16string> exact[] = {
      {"a\x7F", u"a\x7F"},
      {"\u0080\u07FF", u"\u0080\u07FF"},
      {"\u0800\u0FFF", u"\u0800\u0FFF"},
      {"\u1000\uFFFF", u"\u1000\uFFFF"},
      {"\U00010000", u"\U00010000"},
      {"\U0010FFFF", u"\U0010FFFF"},
      {"\xED\xA0\x80", u"\xD800"},
      {"\xED\xBF\xBF", u"\xDFFF"},
  };
  for (const auto& [text, units] : exact) {
    EXPECT_TRUE(isWtf8(text)) << text;
    EXPECT_EQ(toUtf16(text), units) << text;
    EXPECT_EQ(fromUtf16(units), text) << text;
  }
  for (const std::string text :
       {"\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xE0\x9F\xBF", "\xF0\x80\x80\x80",
        "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF8\x90\x80\x80", "\xE6\x97", "\x80", "a\xFF"}) {
    EXPECT_FALSE(isWtf8(text)) << text;
  }
  // What Windows refuses in a UTF-8 source: a surrogate, also after another ED byte.
  EXPECT_TRUE(hasSurrogate("\u00E9\uD7FF\xED\xBF\xBF"));
  EXPECT_FALSE(hasSurrogate("\uD7FF\uE000\xED"));
}

}  // namespace
}  // namespace kvowrapper
