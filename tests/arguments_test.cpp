#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/arguments.h"
#include "driver/definition_table.h"

namespace kvowrapper {
namespace {

TEST(IsResourceSource, ClassifiesNames) {
  struct Case {
    const char* text;
    bool expected;
  };
  const Case cases[] = {
      {"a.rsrc", true},        {"res/app.rsrc", true},
      {"C:\\x\\b.rsrc", true}, {".rsrc", false},
      {"a.RSRC", false},       {"a.rsrc ", false},
      {"a.rsrc.bak", false},   {"", false},
      {"-DX=a.rsrc", true},    {"a.rsrc-processed.rsrc", true},
      {"rsrc", false},         {"x.rc", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isResourceSource(c.text), c.expected) << c.text;
}

TEST(IsDefinitionOption, NeedsPrefixEqualsAndNoComma) {
  struct Case {
    const char* text;
    bool expected;
  };
  const Case cases[] = {
      {"-DA=1", true},   {"-D=x", true},     {"-DA=", true},    {"-DA=b=c", true},
      {"-DA", false},    {"-DA=1,2", false}, {"-D,A=1", false}, {"-dA=1", false},
      {"D=1", false},    {"--DA=1", false},  {"-", false},      {"", false},
      {"x-DA=1", false}, {"-D", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isDefinitionOption(c.text), c.expected) << c.text;
}

TEST(RecordDefinition, SplitsAtFirstEqualsAndTurnsValueBackslashes) {
  struct Case {
    std::vector<std::string> options;
    std::string name;
    std::string value;
  };
  const Case cases[] = {
      {{"-DPATH=C:\\dir\\file"}, "PATH", "C:/dir/file"},
      {{"-DA=b=c"}, "A", "b=c"},
      {{"-D=x"}, "", "x"},
      {{"-DA="}, "A", ""},
      {{"-DA\\B=1"}, "A\\B", "1"},
      {{"-DA=1", "-DB=3", "-DA=2"}, "A", "2"},
      {{"-Da=1", "-DA=2"}, "a", "1"},
      {{"-D A =x\\\\y"}, " A ", "x//y"},
  };
  for (const auto& c : cases) {
    DefinitionTable table;
    for (const auto& option : c.options) recordDefinition(table, option);
    const std::string* value = findDefinition(table, c.name);
    ASSERT_NE(value, nullptr) << c.name;
    EXPECT_EQ(*value, c.value) << c.name;
  }
}

TEST(FindDefinition, MatchesWholeNameOnly) {
  DefinitionTable table;
  recordDefinition(table, "-DAB=1");
  for (const char* missing : {"A", "ABC", "ab", " AB", "AB ", ""}) {
    EXPECT_EQ(findDefinition(table, missing), nullptr) << missing;
  }
  EXPECT_NE(findDefinition(table, "AB"), nullptr);
}

}  // namespace
}  // namespace kvowrapper
