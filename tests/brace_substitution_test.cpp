#include "preprocess/brace_substitution.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "driver/definition_table.h"

namespace kvowrapper {
namespace {

using Definitions = std::vector<std::pair<std::string, std::string>>;

DefinitionTable makeTable(const Definitions& definitions) {
  DefinitionTable table;
  for (const auto& [name, value] : definitions) table[name] = value;
  return table;
}

TEST(ExpandBraceReferences, ReplacesDefinedNamesOnly) {
  struct Case {
    Definitions definitions;
    std::string in;
    std::string expected;
  };
  const Definitions a1 = {{"A", "1"}};
  const Case cases[] = {
      {a1, "a{A}b", "a1b"},
      {a1, "{A}{A}", "11"},
      {a1, "{B}", "{B}"},
      {{{"A", ""}}, "x{A}y", "xy"},
      {{{"A", "{B}"}, {"B", "2"}}, "{A}", "{B}"},
      {a1, "no braces at all\r\n", "no braces at all\r\n"},
      {{}, "{A}", "{A}"},
      {a1, "{A", "1"},
      {a1, "x{A", "x1"},
      {{{"B", "1"}}, "{A", "{A"},
      {a1, "{{A}", "{1"},
      {a1, "{{A}}", "{1}"},
      {{{"B", "2"}}, "{A{B}}", "{A2}"},
      {{{"A{B", "V"}}, "{A{B}}", "V}"},
      {{{"A{B", "V"}, {"B", "2"}}, "{A{B}}", "V}"},
      {{{"", "E"}}, "ab{", "abE"},
      {{{"", "E"}}, "{}", "E"},
      {{{"", "E"}}, "{{}", "{E"},
      {a1, "ab{", "ab{"},
      {a1, "{}", "{}"},
      {a1, "{ A}", "{ A}"},
      {{{" A", "s"}}, "{ A}", "s"},
      {{{"A\nB", "j"}}, "{A\nB}", "j"},
      {a1, "{A\r\nB}", "{A\r\nB}"},
      {a1, "}}{A}}", "}}1}"},
      {{{"A}", "x"}}, "{A}}", "{A}}"},
      {{{"LONG", "1"}, {"ONG", "2"}, {"NG", "3"}}, "{LONG}{ONG}{NG}{G}", "123{G}"},
      {{{"B", "2"}}, "{{{{{{{{B}", "{{{{{{{2"},
      {{{"{{B", "x"}, {"B", "2"}}, "{{{{B}", "{x"},
      {{{"A", "\xff\x00"}}, "\xfe{A}\xfe", "\xfe\xff\xfe"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(expandBraceReferences(makeTable(c.definitions), c.in), c.expected) << c.in;
  }
}

TEST(BraceExpander, PiecesAddUpToTheWholeText) {
  const DefinitionTable table = makeTable({{"A", "one"}, {"LONGER", "value of some length"}});
  const std::string text = "x{A}y{LONGER}{B}{{A}}tail{A";
  const std::string whole = expandBraceReferences(table, text);
  const NameIndex index(table);
  for (size_t piece = 1; piece < 8; ++piece) {
    BraceExpander expander(index, text);
    std::string out;
    while (!expander.isDone()) expander.expandInto(out, out.size() + piece);
    EXPECT_EQ(out, whole) << piece;
  }
}

}  // namespace
}  // namespace kvowrapper
