#include <gtest/gtest.h>

#include "definitions/definition_table.h"
#include "driver/arguments.h"

namespace kvowrapper {
namespace {

// How each argument is taken.
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

}  // namespace
}  // namespace kvowrapper
