#include "preprocess/processed_file.h"

#include <algorithm>
#include <bit>
#include <new>
#include <random>
#include <vector>

#include "preprocess/source_reader.h"
#include "preprocess/text_passes.h"
#include "system/messages.h"
#include "system/utf16.h"
#include "system/write_guard.h"

namespace kvowrapper {

namespace {

// The definitions as they must stand in the source's text. Command-line texts are UTF-8 (on
// Windows converted from the wide command line); a byte text without a mark takes them as its own
// bytes (on Windows, the ANSI code page), a UTF-16 text as code units. A name that cannot be
// written can never match and is left out; a value that cannot be is refused, should a reference
// ask for it.
template <class Unit>
std::vector<Definition<Unit>> encodeDefinitions(const DefinitionTable& table,
                                                TextEncoding encoding) {
  std::vector<Definition<Unit>> definitions;
  for (const auto& [name, value] : table) {
    std::optional<std::basic_string<Unit>> units;
    std::optional<std::basic_string<Unit>> unitsOfName;
    if constexpr (sizeof(Unit) == 2) {
      if (isValidUtf8(value)) units = toUtf16(value);
      if (isValidUtf8(name)) unitsOfName = toUtf16(name);
    } else if (encoding == TextEncoding::kUtf8WithMark) {
      units = value;
      unitsOfName = name;
    } else {
      units = toAnsiText(value);
      unitsOfName = toAnsiText(name);
    }
    if (!unitsOfName.has_value()) continue;
    const bool isRefused = !units.has_value();
    definitions.push_back({std::move(*unitsOfName),
                           std::move(units).value_or(std::basic_string<Unit>()), isRefused, name});
  }
  return definitions;
}

// Writes units, in the source's byte order where the text is UTF-16.
template <class Unit>
bool writeUnits(const FileHandle& file, std::basic_string<Unit>& units, bool isSwapped) {
  if constexpr (sizeof(Unit) == 2) {
    if (isSwapped) {
      for (char16_t& unit : units) unit = static_cast<char16_t>(unit << 8 | unit >> 8);
    }
  }
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
  return writeAll(file, reinterpret_cast<const char*>(units.data()), units.size() * sizeof(Unit));
}

// Runs both passes over the text of `reader`, a window at a time, and writes what they give to
// `file` through two buffers that are used again and again. A window is expanded up to just after
// its last closing brace, since no reference spans that point. Past it, all but the last units
// (as many as the longest name and one more) are text as they stand: a reference holding one of
// them would have a longer name than any defined. The rest is kept for the next window, so a
// carry is never longer than the longest name, and the passes are linear on any text. Returns
// false when reading or writing fails, or when a reference asks for a refused value (`refused`
// then names it).
template <class Unit>
bool writePasses(const FileHandle& file, const DefinitionTable& table, SourceReader& reader,
                 std::optional<std::string>& refused, bool& hasReadFailed) {
  constexpr size_t kPiece = size_t{256} * 1024;
  const bool isSwapped =
      isUtf16(reader.encoding()) &&
      (reader.encoding() == TextEncoding::kUtf16Be) != (std::endian::native == std::endian::big);
  const std::vector<Definition<Unit>> definitions =
      encodeDefinitions<Unit>(table, reader.encoding());
  const NameIndex<Unit> index(definitions);
  // The first pass hands out many short pieces; they are gathered and joined a buffer at a time
  // (joining each piece as it came made the bench's thousands-of-definitions row 1.4 times as
  // long, and the realistic one 1.1).
  StringJoiner<Unit> joiner;
  std::basic_string<Unit> expanded;
  std::basic_string<Unit> joined;
  bool isWritten = true;
  auto flush = [&] {
    joiner.joinContinuedStrings(expanded, joined);
    isWritten = isWritten && writeUnits<Unit>(file, joined, isSwapped);
    expanded.clear();
    joined.clear();
  };
  auto emit = [&](std::basic_string_view<Unit> piece) {
    expanded.append(piece);
    if (expanded.size() >= kPiece) flush();
  };
  for (size_t keep = 0;;) {
    std::string_view bytes;
    if (!reader.next(keep * sizeof(Unit), bytes)) {
      hasReadFailed = true;
      return false;
    }
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    const std::basic_string_view<Unit> window(reinterpret_cast<const Unit*>(bytes.data()),
                                              bytes.size() / sizeof(Unit));
    const size_t afterClose = reader.isAtEnd() ? window.size() : window.rfind(Unit('}')) + 1;
    const size_t cut =
        reader.isAtEnd() ? window.size()
                         : std::max(afterClose, window.size() - std::min(window.size(),
                                                                         index.longestName() + 1));
    if (const auto* asked = expandBraceReferences(index, window.substr(0, afterClose), emit)) {
      refused = asked->givenName;
      return false;
    }
    emit(window.substr(afterClose, cut - afterClose));
    if (reader.isAtEnd()) break;
    keep = window.size() - cut;
  }
  joiner.joinContinuedStrings(expanded, joined);
  joiner.finish(joined);
  return isWritten && writeUnits<Unit>(file, joined, isSwapped);
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

// Writes the processed text of the source into a new file beside `processedName` and puts it in
// place under that name. On failure it has written its message and left no new file.
bool writeProcessedFile(const std::string& processedName, SourceReader& reader,
                        const DefinitionTable& table, const std::string& inputPath, bool isLocked) {
  std::string temporary;
  FileHandle file = createTemporary(inputPath, isLocked, temporary);
  if (!file.isOpen()) {
    report(Message::kCannotCreateProcessed, {processedName});
    return false;
  }
  const WriteGuard guard(temporary);
  bool isWritten = false;
  bool isOutOfMemory = false;
  bool hasReadFailed = false;
  std::optional<std::string> refused;
  try {
    if (isUtf16(reader.encoding())) {
      isWritten = writeAll(file, reader.mark().data(), reader.mark().size()) &&
                  writePasses<char16_t>(file, table, reader, refused, hasReadFailed) &&
                  writeAll(file, reader.oddByte().data(), reader.oddByte().size());
    } else {
      isWritten = writePasses<char>(file, table, reader, refused, hasReadFailed);
    }
  } catch (const std::bad_alloc&) {
    isOutOfMemory = true;
  }
  // A failed close can mean the data never reached the disk.
  isWritten = file.close() && isWritten;
  if (isWritten && replaceFile(temporary, processedName) == ReplaceResult::kReplaced) return true;
  removeFile(temporary);
  if (isOutOfMemory) {
    report(Message::kOutOfMemory);
  } else if (refused.has_value()) {
    report(Message::kUnencodableValue,
           {*refused, isUtf16(reader.encoding()) ? "UTF-16" : "the ANSI code page"});
  } else if (hasReadFailed) {
    report(Message::kCannotReadInput, {inputPath});
  } else {
    report(isWritten ? Message::kCannotCreateProcessed : Message::kCannotWriteProcessed,
           {processedName});
  }
  return false;
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
  SourceReader reader(source);
  if (!reader.start()) {
    report(Message::kCannotReadInput, {inputPath});
    return false;
  }
  processed.name = inputPath + std::string(kProcessedSuffix);
  if (!writeProcessedFile(processed.name, reader, table, inputPath, isLocked)) return false;
  processed.source = std::move(source);
  return true;
}

}  // namespace kvowrapper
