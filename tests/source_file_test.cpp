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

class SourceFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kvowrapper-source-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(SourceFileTest, LoadsRegularFilesWholeAndReportsFailures) {
  const std::string text(1000000, 'x');
  std::ofstream(dir_ / "a.rsrc", std::ios::binary) << text;
  std::ofstream(dir_ / "small.rsrc", std::ios::binary) << "small";
  std::ofstream(dir_ / "empty.rsrc", std::ios::binary).flush();
  SourceFile file;
  ASSERT_EQ(file.load((dir_ / "a.rsrc").c_str()), SourceFile::Status::kOk);
  EXPECT_EQ(file.bytes(), text);
  EXPECT_TRUE(file.isMapped());
  SourceFile small;
  ASSERT_EQ(small.load((dir_ / "small.rsrc").c_str()), SourceFile::Status::kOk);
  EXPECT_EQ(small.bytes(), "small");
  SourceFile empty;
  ASSERT_EQ(empty.load((dir_ / "empty.rsrc").c_str()), SourceFile::Status::kOk);
  EXPECT_EQ(empty.bytes(), "");
  SourceFile missing;
  EXPECT_EQ(missing.load((dir_ / "missing.rsrc").c_str()), SourceFile::Status::kOpenFailed);
  SourceFile directory;
  EXPECT_EQ(directory.load(dir_.c_str()), SourceFile::Status::kReadFailed);
}

// Another process cutting the source short while it is mapped must not kill the wrapper with a
// signal and leave half a processed file.
TEST_F(SourceFileTest, SourceCutShortWhileMappedIsAReadFailure) {
  const fs::path source = dir_ / "a.rsrc";
  std::ofstream(source, std::ios::binary) << std::string(size_t{4} << 20, 'x');
  const std::string processed = source.string() + "-processed.rsrc";
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
      ::testing::ExitedWithCode(1), "kvowrapper: unable to read input file .*a.rsrc\n");
  EXPECT_FALSE(fs::exists(processed));
}

}  // namespace
}  // namespace kvowrapper
