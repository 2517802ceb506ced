#include "preprocess/production.h"

#include "preprocess/processed_text.h"
#include "system/messages.h"

namespace kvowrapper {

namespace {

// The processed text of an open source.
class SourceText final : public ProcessedFile::TextWriter {
 public:
  SourceText(const FileHandle& source, std::string_view path, const DefinitionTable& table)
      : source_(source), path_(path), table_(table) {}

  Written writeTo(const FileHandle& out) override {
    return writeProcessedText(source_, path_, table_, out);
  }
  bool rewind() override { return rewindFile(source_); }

 private:
  const FileHandle& source_;
  std::string_view path_;
  const DefinitionTable& table_;
};

}  // namespace

bool produceProcessedFile(const DefinitionTable& table, const std::string& inputPath,
                          ProcessedFile& processed) {
  const FileHandle source = openSource(inputPath);
  if (!source.isOpen()) {
    report(Message::kCannotOpenInput, {inputPath});
    return false;
  }
  std::optional<Failure> failure = processed.takeTurn();
  if (!failure.has_value()) {
    SourceText text(source, inputPath, table);
    failure = processed.write(text, fileIdentity(source));
  }
  if (failure.has_value()) report(*failure);
  return !failure.has_value();
}

}  // namespace kvowrapper
