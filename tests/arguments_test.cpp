#include <gtest/gtest.h>

#include "definitions/definition_table.h"
#include "driver/arguments.h"
#include "system/file_access.h"

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

// What a compiler is told the runs above it hold: what can be read of the inherited list and the
// run's own entries, the oldest dropped to stay within the limit.
TEST(Arguments, RunIdentitiesStayWithinTheLimit) {
  struct Case {
    std::string_view inherited;
    std::string_view added;
    size_t limit;
    std::string_view expected;
  };
  const Case cases[] = {
      {"", "1:2", 100, "1:2"},
      {"1:2", "3:4 5:6", 100, "1:2 3:4 5:6"},
      {"x 1:2  :3 4: 5 6:a 7:8:9", "3:4", 100, "1:2 7:8:9 3:4"},
      {"1:2 3:4 5:6", "7:8", 11, "3:4 5:6 7:8"},
      {"1:2 3:4 5:6", "7:8", 10, "5:6 7:8"},
      {"1:2 3:4", "5:6", 3, "5:6"},
      {"1:2", "3:4", 2, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(listRunIdentities(c.inherited, c.added, c.limit), c.expected) << c.inherited;
  }
}

// On POSIX only a slash ends a folder, so that the new file's name beside the processed one is
// hidden whatever the source's name holds.
TEST(Paths, FoldersEndAtTheLastSlashOnly) {
  const std::pair<std::string_view, size_t> cases[] = {
      {"a.rsrc", 0}, {"/a.rsrc", 1}, {"d/e/a.rsrc", 4}, {"c:\\d\\a:b.rsrc", 0}, {"x/c:a.rsrc", 2}};
  for (const auto& [path, end] : cases) EXPECT_EQ(folderEnd(path), end) << path;
}

}  // namespace
}  // namespace kvowrapper
