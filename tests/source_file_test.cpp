#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "preprocess/source_reader.h"
#include "system/write_guard.h"

namespace kvowrapper {
namespace {

namespace fs = std::filesystem;

// Another process cutting the source short while it is mapped must not kill the wrapper with a
// signal and leave half a processed file.
TEST(SourceReader, CutShortWhileMappedIsAReadFailure) {
  const fs::path source =
      fs::temp_directory_path() / ("kvowrapper-cut-" + std::to_string(getpid()) + ".rsrc");
  const fs::path written = source.string() + ".tmp";
  std::ofstream(source, std::ios::binary) << std::string(size_t{4} << 20, 'x');
  EXPECT_EXIT(
      {
        const FileHandle file = openSource(source.string());
        SourceReader reader;
        std::string_view text;
        if (reader.start(file) != SourceReader::Status::kOk || !reader.isMapped()) std::exit(2);
        reader.more(0, text);
        std::ofstream(written) << "partial";
        if (truncate(source.c_str(), 0) != 0) std::exit(3);
        const WriteGuard guard(written.string(), "kvowrapper: unable to read input file\n");
        volatile char sum = 0;
        for (const char c : text) sum = static_cast<char>(sum + c);
        std::exit(4);
      },
      ::testing::ExitedWithCode(1), "kvowrapper: unable to read input file\n");
  EXPECT_FALSE(fs::exists(written));
  fs::remove(source);
}

}  // namespace
}  // namespace kvowrapper
