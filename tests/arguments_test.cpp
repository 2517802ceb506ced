#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "definitions/definition_table.h"
#include "driver/arguments.h"

namespace kvowrapper {
namespace {

TEST(Arguments, AreSortedIntoSourcesAndDefinitions) {
  struct Case {
    const char* text;
    bool isSource;
    bool isDefinition;
  };
  const Case cases[] = {
      {"a.rsrc", true, false},   {".rsrc", false, false},    {"a.RSRC", false, false},
      {"a.rsrc ", false, false}, {"-DX=a.rsrc", true, true}, {"-DA=1", false, true},
      {"-D=x", false, true},     {"-DA", false, false},      {"-DA=1,2", false, false},
      {"-D,A=1", false, false},  {"-dA=1", false, false},    {"x-DA=1", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isResourceSource(c.text), c.isSource) << c.text;
    EXPECT_EQ(isDefinitionOption(c.text), c.isDefinition) << c.text;
  }
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
  };
  for (const auto& c : cases) {
    DefinitionTable table;
    for (const auto& option : c.options) recordDefinition(table, option);
    const auto found = table.find(c.name);
    ASSERT_NE(found, table.end()) << c.name;
    EXPECT_EQ(found->second, c.value) << c.name;
  }
}

}  // namespace
}  // namespace kvowrapper
