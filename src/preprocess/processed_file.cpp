#include "preprocess/processed_file.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <new>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

#include "preprocess/source_reader.h"
#include "preprocess/text_passes.h"
#include "system/messages.h"
#include "system/utf16.h"
#include "system/write_guard.h"

namespace kvowrapper {

namespace {

// The definitions as they must stand in the source's text. Command-line texts are UTF-8 (on
// Windows WTF-8, converted from the wide command line); a byte text without a mark takes them as
// its own bytes (on Windows, the ANSI code page), a UTF-16 text as code units, lone surrogates
// included. A name that cannot be
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
      if (isWtf8(value)) units = toUtf16(value);
      if (isWtf8(name)) unitsOfName = toUtf16(name);
    } else if (encoding == TextEncoding::kUtf8WithMark) {
      units = toUtf8Text(value);
      unitsOfName = toUtf8Text(name);
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

enum class Written { kDone, kCannotCreate, kCannotWrite, kFailed };

// Writes the processed text of `source`, read from its start, to `file`. kFailed when the source
// cannot be read, memory runs out or a reference asks for a value that cannot be written, which
// it has said; kCannotWrite when writing fails, which it leaves to the caller to say.
Written writeText(const FileHandle& file, const FileHandle& source, const DefinitionTable& table,
                  const std::string& inputPath) {
  SourceReader reader(source);
  if (!reader.start()) {
    report(Message::kCannotReadInput, {inputPath});
    return Written::kFailed;
  }
  bool hasReadFailed = false;
  bool isWritten = false;
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
    report(Message::kOutOfMemory);
    return Written::kFailed;
  }
  if (refused.has_value()) {
    const TextEncoding encoding = reader.encoding();
    report(Message::kUnencodableValue,
           {*refused, isUtf16(encoding)                         ? "UTF-16"
                      : encoding == TextEncoding::kUtf8WithMark ? "UTF-8"
                                                                : ansiCodePageName()});
    return Written::kFailed;
  }
  if (hasReadFailed) {
    report(Message::kCannotReadInput, {inputPath});
    return Written::kFailed;
  }
  return isWritten ? Written::kDone : Written::kCannotWrite;
}

// The file at the processed name on which a run holds its turn. A run takes the turn by locking
// that file, and keeps it by putting its new file, locked before, in place and holding that until
// its compiler has ended.
struct Turn {
  FileHandle file;  // not open when no regular file can stand there
  std::string identity;
  bool isHeld = false;     // locked: false where the file system has no locks
  bool isCreated = false;  // made, empty, by this run, since nothing stood at the name
};

bool isListed(std::string_view identities, std::string_view identity) {
  for (size_t at = 0; at < identities.size();) {
    const size_t end = std::min(identities.find(' ', at), identities.size());
    if (identities.substr(at, end - at) == identity) return true;
    at = end + 1;
  }
  return false;
}

// Takes the turn on the processed name, waiting for the run that holds it. The file that stands
// there is locked, then checked to be the one the name still names (another run may have put its
// own in place meanwhile); where nothing stands there, an empty file is made to lock, so that the
// runs of a clean build take turns too. None, having said why, when a run that started this one
// holds the turn.
std::optional<Turn> takeTurn(const std::string& name, const std::string& inputPath,
                             std::string_view ancestors) {
  for (;;) {
    Turn turn;
    bool isMissing = false;
    turn.file = openRegularFile(name, isMissing);
    if (isMissing) {
      turn.file = createNewFile(name);
      turn.isCreated = turn.file.isOpen();
      if (!turn.isCreated && !fileIdentityAt(name).empty()) continue;  // made meanwhile
    }
    if (!turn.file.isOpen()) return turn;
    if (isListed(ancestors, fileIdentity(turn.file))) {
      report(Message::kNestedRun, {inputPath});
      return std::nullopt;
    }
    turn.isHeld = lockFile(turn.file, name, true, inputPath) == LockResult::kLocked;
    turn.identity = fileIdentity(turn.file);
    if (!turn.isHeld || fileIdentityAt(name) == turn.identity) return turn;
  }
}

// A hidden name beside the processed file: the source's name, a tag of the program's own and a
// part no user picks; no longer than the processed name, and not ending in ".rsrc", so that globs
// for sources never pick it up. The part is a hash of the processed file's name for a run that
// holds the turn, so that what a killed run left there is found again; random without a turn.
std::string temporaryNameFor(const std::string& processedName, bool isFixed) {
  const size_t slash = processedName.find_last_of("/\\:");
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  const size_t end = processedName.size() - kProcessedSuffix.size();
  std::string name =
      processedName.substr(0, base) + "." + processedName.substr(base, end - base) + "~kvw";
  uint32_t hash = 2166136261U;  // FNV-1a
  for (const char c : std::string_view(processedName).substr(base)) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 16777619U;
  }
  std::random_device random;
  for (int i = 0; i < 8; ++i) {
    name += "0123456789abcdef"[isFixed ? (hash >> (4 * i)) & 15 : random() % 16];
  }
  return name;
}

// Removes what a killed run left at the fixed temporary name: a regular file that no live run
// holds locked.
bool removeStray(const std::string& name) {
  bool isMissing = false;
  FileHandle stray = openRegularFile(name, isMissing);
  if (!stray.isOpen() || lockFile(stray, name, false, name) != LockResult::kLocked) return false;
  removeFile(name);
  return true;
}

FileHandle createTemporary(WriteGuard& guard, const std::string& processedName, bool isTurnHeld,
                           std::string& name) {
  if (isTurnHeld) {
    name = temporaryNameFor(processedName, true);
    FileHandle file = guard.createNewFile(name);
    if (!file.isOpen() && removeStray(name)) file = guard.createNewFile(name);
    if (file.isOpen()) return file;
  }
  constexpr int kAttempts = 8;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    name = temporaryNameFor(processedName, false);
    FileHandle file = guard.createNewFile(name);
    if (file.isOpen()) return file;
  }
  return {};
}

// Writes the processed text into a new file and puts it in place, locked first where the turn is
// held, so that the turn never lapses; `processed.turn` then holds it.
Written writeNewFile(WriteGuard& guard, Turn& turn, const FileHandle& source,
                     const DefinitionTable& table, const std::string& inputPath,
                     ProcessedFile& processed) {
  std::string temporary;
  FileHandle file = createTemporary(guard, processed.name, turn.isHeld, temporary);
  if (!file.isOpen()) return Written::kCannotCreate;
  if (turn.file.isOpen() && !turn.isCreated) copyPermissions(turn.file, file);
  const Written written = writeText(file, source, table, inputPath);
  if (written != Written::kDone) return written;
  FileHandle holder = finishWriting(std::move(file), temporary);
  if (!holder.isOpen() ||
      (turn.isHeld && lockFile(holder, temporary, false, inputPath) != LockResult::kLocked)) {
    return Written::kCannotWrite;
  }
  if (replaceFile(temporary, processed.name, turn.file) != ReplaceResult::kReplaced) {
    return Written::kCannotCreate;
  }
  guard.keepNewFile();
  processed.identity = fileIdentity(holder);
  processed.turn = std::move(holder);
  return Written::kDone;
}

// Writes the processed text into the file that stands at the processed name, as a run did before
// it wrote new files: where a new file cannot be made or put in place (a folder the user may not
// write in, a sticky folder, a mount point, room for one copy only), but the file there is one
// the user may write, is not the source, and has no other name. A failure part-way leaves its old
// text damaged.
bool canWriteInPlace(const Turn& turn, const FileHandle& source) {
  return turn.file.isOpen() && !turn.isCreated && hasOneName(turn.file) &&
         turn.identity != fileIdentity(source);
}

Written writeInPlace(Turn& turn, const FileHandle& source, const DefinitionTable& table,
                     const std::string& inputPath, ProcessedFile& processed) {
  FileHandle file = openForWriting(processed.name);
  if (!file.isOpen() || fileIdentity(file) != turn.identity) return Written::kCannotCreate;
  if (!truncateFile(file)) return Written::kCannotWrite;
  const Written written = writeText(file, source, table, inputPath);
  if (written != Written::kDone) return written;
  if (!file.close()) return Written::kCannotWrite;  // the data may never have reached the disk
  processed.identity = fileIdentity(turn.file);
  processed.turn = std::move(turn.file);
  processed.isWrittenInPlace = true;
  return Written::kDone;
}

}  // namespace

bool produceProcessedFile(const DefinitionTable& table, const std::string& inputPath,
                          std::string_view ancestors, ProcessedFile& processed) {
  const FileHandle source = openSource(inputPath);
  if (!source.isOpen()) {
    report(Message::kCannotOpenInput, {inputPath});
    return false;
  }
  processed.name = inputPath + std::string(kProcessedSuffix);
  std::optional<Turn> turn = takeTurn(processed.name, inputPath, ancestors);
  if (!turn.has_value()) return false;
  Written written = Written::kCannotCreate;
  {
    WriteGuard guard;
    written = writeNewFile(guard, *turn, source, table, inputPath, processed);
    if (written == Written::kDone) return true;
  }
  // The new file is gone, and its room with it; the source is read again from its start.
  if (written != Written::kFailed && canWriteInPlace(*turn, source) && rewindFile(source)) {
    const WriteGuard guard;
    written = writeInPlace(*turn, source, table, inputPath, processed);
    if (written == Written::kDone) return true;
  }
  if (written != Written::kFailed) {
    report(written == Written::kCannotCreate ? Message::kCannotCreateProcessed
                                             : Message::kCannotWriteProcessed,
           {processed.name});
  }
  // An empty file this run made to take the turn goes again.
  if (turn->isCreated && fileIdentityAt(processed.name) == turn->identity) {
    removeFile(processed.name);
  }
  return false;
}

}  // namespace kvowrapper
