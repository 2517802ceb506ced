#include "preprocess/processed_file.h"

#include <map>
#include <new>
#include <random>

#include "preprocess/source_reader.h"
#include "preprocess/text_stream.h"
#include "system/messages.h"
#include "system/utf16.h"
#include "system/write_guard.h"

namespace kvowrapper {

namespace {

// Names and values as they must stand in a text of `encoding`. Command-line texts are UTF-8 (on
// Windows converted from the wide command line); a byte text without a mark takes them as its
// own bytes (on Windows, the ANSI code page). A name that cannot be written can never match and
// is left out; a value that cannot be is refused, with its name in `refused` (as written) and
// in `originals` (as given), should a reference ask for it.
void encodeDefinitions(const DefinitionTable& table, TextEncoding encoding,
                       DefinitionTable& encoded, RefusedNames& refused,
                       std::map<std::string, std::string, std::less<>>& originals) {
  if (encoding == TextEncoding::kUtf8WithMark) {
    encoded = table;
    return;
  }
  const bool isWide = isUtf16(encoding);
  for (const auto& [name, value] : table) {
    std::optional<std::string> bytes;
    std::optional<std::string> encodedName;
    if (isWide) {
      if (isValidUtf8(value)) bytes = value;
      if (isValidUtf8(name)) encodedName = name;
    } else {
      bytes = toAnsiText(value);
      encodedName = toAnsiText(name);
    }
    if (!encodedName.has_value()) continue;
    if (!bytes.has_value()) {
      refused.insert(*encodedName);
      originals.insert_or_assign(*encodedName, name);
    }
    encoded.insert_or_assign(std::move(*encodedName), std::move(bytes).value_or(std::string()));
  }
}

// A hidden name beside the processed file, made from the source's name: no longer than the
// processed name, and not ending in ".rsrc", so that globs for sources never pick it up. A run
// that holds the source's lock uses the one fixed name (removing what a killed run left there);
// without a lock a random part keeps runs apart.
std::string temporaryNameFor(const std::string& inputPath, bool isFixed) {
  const size_t slash = inputPath.find_last_of("/\\:");
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  std::string name = inputPath.substr(0, base) + "." + inputPath.substr(base) + ".tmp";
  if (!isFixed) {
    constexpr std::string_view kDigits = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::random_device random;
    for (int i = 0; i < 6; ++i) name += kDigits[random() % kDigits.size()];
  }
  return name;
}

FileHandle createTemporary(const std::string& inputPath, bool isLocked, std::string& name) {
  constexpr int kAttempts = 8;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    name = temporaryNameFor(inputPath, isLocked && attempt < 2);
    FileHandle file = createNewFile(name);
    if (file.isOpen()) return file;
    // What a killed run left at the fixed name goes, and the name is tried once more.
    if (isLocked && attempt == 0) removeFile(name);
  }
  return FileHandle();
}

// Reports a failure to read the source; true when there is none.
bool isRead(SourceReader::Status status, const std::string& inputPath) {
  switch (status) {
    case SourceReader::Status::kReadFailed:
      report(Message::kCannotReadInput, {inputPath});
      return false;
    case SourceReader::Status::kOutOfMemory:
      report(Message::kOutOfMemory);
      return false;
    case SourceReader::Status::kOk:
      break;
  }
  return true;
}

}  // namespace

bool produceProcessedFile(const DefinitionTable& table, const std::string& inputPath,
                          ProcessedFile& processed) {
  FileHandle source = openSource(inputPath);
  if (!source.isOpen()) {
    report(Message::kCannotOpenInput, {inputPath});
    return false;
  }
  const bool isLocked = lockSource(source, inputPath);
  SourceReader reader;
  if (!isRead(reader.start(source), inputPath)) return false;
  DefinitionTable encoded;
  RefusedNames refused;
  std::map<std::string, std::string, std::less<>> originals;
  encodeDefinitions(table, reader.encoding(), encoded, refused, originals);

  processed.name = inputPath + std::string(kProcessedSuffix);
  std::string temporary;
  FileHandle file = createTemporary(inputPath, isLocked, temporary);
  if (!file.isOpen()) {
    report(Message::kCannotCreateProcessed, {processed.name});
    return false;
  }
  bool isWritten = false;
  bool isOutOfMemory = false;
  std::optional<std::string> refusedName;
  ReplaceResult placed = ReplaceResult::kFailed;
  {
    const WriteGuard guard(temporary, reader.isMapped()
                                          ? formatMessage(Message::kCannotReadInput, {inputPath})
                                          : std::string());
    try {
      isWritten = streamProcessedSource(
          encoded, reader, reader.encoding(),
          [&file](std::string_view piece) { return writeAll(file, piece.data(), piece.size()); },
          &refused, &refusedName);
    } catch (const std::bad_alloc&) {
      isOutOfMemory = true;
    }
    // A failed close can mean the data never reached the disk.
    isWritten = file.close() && isWritten;
    if (isWritten) placed = replaceFile(temporary, processed.name);
  }
  if (placed == ReplaceResult::kReplaced) {
    processed.source = std::move(source);
    return true;
  }
  removeFile(temporary);
  if (isOutOfMemory) {
    report(Message::kOutOfMemory);
  } else if (refusedName.has_value()) {
    report(Message::kUnencodableValue,
           {originals.find(*refusedName)->second,
            isUtf16(reader.encoding()) ? "UTF-16" : "the ANSI code page"});
  } else if (reader.failure() != SourceReader::Status::kOk) {
    isRead(reader.failure(), inputPath);
  } else {
    report(isWritten ? Message::kCannotCreateProcessed : Message::kCannotWriteProcessed,
           {processed.name});
  }
  return false;
}

}  // namespace kvowrapper
