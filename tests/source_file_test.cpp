#include "preprocess/source_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "driver/definition_table.h"
#include "preprocess/processed_file.h"

namespace kvowrapper {
namespace {

namespace fs = std::filesystem;

// Another process cutting the source short while it is mapped must not kill the wrapper with a
// signal and leave half a processed file.
TEST(SourceFile, CutShortWhileMappedIsAReadFailure) {
  const fs::path source =
      fs::temp_directory_path() / ("kvowrapper-cut-" + std::to_string(getpid()) + ".rsrc");
  std::ofstream(source, std::ios::binary) << std::string(size_t{4} << 20, 'x');
  EXPECT_EXIT(
      {
        SourceFile file;
        if (file.load(source.c_str()) != SourceFile::Status::kOk || !file.isMapped()) {
          std::exit(2);
        }
        if (truncate(source.c_str(), 0) != 0) std::exit(3);
        std::string name;
        writeProcessedFile(name, DefinitionTable{}, file, source.c_str());
        std::exit(4);
      },
      ::testing::ExitedWithCode(1), "kvowrapper: unable to read input file .*\\.rsrc\n");
  EXPECT_FALSE(fs::exists(source.string() + "-processed.rsrc"));
  fs::remove(source);
}

}  // namespace
}  // namespace kvowrapper
