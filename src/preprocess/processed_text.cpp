#include "preprocess/processed_text.h"

#include <algorithm>
#include <bit>
#include <optional>
#include <string>
#include <vector>

#include "preprocess/source_reader.h"
#include "preprocess/text_passes.h"
#include "system/text_encoding.h"
#include "system/utf16.h"

namespace kvowrapper {

namespace {

// The definitions as they must stand in the source's text. Command-line texts are UTF-8 (on
// Windows WTF-8, converted from the wide command line); a byte text without a mark takes them as
// its own bytes (on Windows, the ANSI code page), a UTF-16 text as code units, lone surrogates
// included. A name that cannot be written can never match and is left out; a value that cannot
// be is refused, should a reference ask for it.
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

std::string_view encodingName(TextEncoding encoding) {
  if (isUtf16(encoding)) return "UTF-16";
  return encoding == TextEncoding::kUtf8WithMark ? "UTF-8" : ansiCodePageName();
}

// Writes units, in the source's byte order where the text is UTF-16.
template <class Unit>
FileError writeUnits(const FileHandle& out, std::basic_string<Unit>& units, bool isSwapped) {
  if constexpr (sizeof(Unit) == 2) {
    if (isSwapped) {
      for (char16_t& unit : units) unit = static_cast<char16_t>(unit << 8 | unit >> 8);
    }
  }
  return writeAll(out, reinterpret_cast<const char*>(units.data()), units.size() * sizeof(Unit));
}

// Runs both passes over the text of `reader`, a window at a time, and writes what they give to
// `out` through two buffers that are used again and again. A window is expanded up to just after
// its last closing brace, since no reference spans that point. Past it, all but the last units
// (as many as the longest name and one more) are text as they stand: a reference holding one of
// them would have a longer name than any defined. The rest is kept for the next window, so a
// carry is never longer than the longest name, and the passes are linear on any text.
template <class Unit>
Written writePasses(SourceReader& reader, std::string_view sourcePath, const DefinitionTable& table,
                    const FileHandle& out) {
  constexpr size_t kGathered = size_t{256} * 1024;
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
  Written written;
  auto flush = [&] {
    joiner.joinContinuedStrings(expanded, joined);
    written.writeError = writeUnits<Unit>(out, joined, isSwapped);
    expanded.clear();
    joined.clear();
  };
  auto emit = [&](std::basic_string_view<Unit> piece) {
    expanded.append(piece);
    if (expanded.size() >= kGathered && written.isDone()) flush();
  };
  for (size_t keep = 0;;) {
    const std::optional<std::string_view> bytes = reader.next(keep * sizeof(Unit));
    if (!bytes.has_value()) {
      return {FileError::kNone, Failure{Message::kCannotReadInput, {std::string(sourcePath)}}};
    }
    const std::basic_string_view<Unit> window(reinterpret_cast<const Unit*>(bytes->data()),
                                              bytes->size() / sizeof(Unit));
    const size_t afterClose = reader.isAtEnd() ? window.size() : window.rfind(Unit('}')) + 1;
    const size_t cut =
        reader.isAtEnd() ? window.size()
                         : std::max(afterClose, window.size() - std::min(window.size(),
                                                                         index.longestName() + 1));
    if (const auto* asked = expandBraceReferences(index, window.substr(0, afterClose), emit)) {
      return {FileError::kNone,
              Failure{Message::kUnencodableValue,
                      {asked->givenName, std::string(encodingName(reader.encoding()))}}};
    }
    emit(window.substr(afterClose, cut - afterClose));
    if (!written.isDone()) return written;  // nothing more is read once a write has failed
    if (reader.isAtEnd()) break;
    keep = window.size() - cut;
  }
  joiner.joinContinuedStrings(expanded, joined);
  joiner.finish(joined);
  written.writeError = writeUnits<Unit>(out, joined, isSwapped);
  return written;
}

}  // namespace

Written writeProcessedText(const FileHandle& source, std::string_view sourcePath,
                           const DefinitionTable& table, const FileHandle& out) {
  SourceReader reader(source);
  if (!reader.start()) {
    return {FileError::kNone, Failure{Message::kCannotReadInput, {std::string(sourcePath)}}};
  }
  if (!isUtf16(reader.encoding())) return writePasses<char>(reader, sourcePath, table, out);
  Written written{writeAll(out, reader.mark().data(), reader.mark().size()), std::nullopt};
  if (written.isDone()) written = writePasses<char16_t>(reader, sourcePath, table, out);
  if (written.isDone()) {
    written.writeError = writeAll(out, reader.oddByte().data(), reader.oddByte().size());
  }
  return written;
}

}  // namespace kvowrapper
