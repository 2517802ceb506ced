#include "preprocess/processed_file.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <utility>

#include "system/file_lock.h"
#include "system/write_guard.h"

namespace kvowrapper {

namespace {

constexpr auto kWaitBeforeSaying = std::chrono::seconds(5);

bool isAmong(std::string_view identities, std::string_view identity) {
  for (size_t at = 0; at < identities.size();) {
    const size_t end = std::min(identities.find(' ', at), identities.size());
    if (identities.substr(at, end - at) == identity) return true;
    at = end + 1;
  }
  return false;
}

enum class TemporaryName { kRandom, kFixed };

// A hidden name beside the processed file: the source's name, a tag of the program's own and a
// part no user picks; no longer than the processed name, and not ending in ".rsrc", so that globs
// for sources never pick it up. The fixed part is a hash of the processed file's name.
std::string temporaryNameFor(const std::string& processedName, TemporaryName kind) {
  const size_t base = folderEnd(processedName);
  const size_t end = processedName.size() - kProcessedSuffix.size();
  std::string name =
      processedName.substr(0, base) + "." + processedName.substr(base, end - base) + "~kvw";
  uint32_t hash = 2166136261U;  // FNV-1a
  for (const char c : std::string_view(processedName).substr(base)) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 16777619U;
  }
  const uint32_t part = kind == TemporaryName::kFixed ? hash : std::random_device()();
  for (int i = 0; i < 8; ++i) name += "0123456789abcdef"[(part >> (4 * i)) & 15];
  return name;
}

}  // namespace

// How the attempt at a new file ended: done, failed, or to be written in place instead.
struct ProcessedFile::NewFileOutcome {
  std::optional<Failure> failure;
  bool isInPlaceWanted = false;
};

ProcessedFile::ProcessedFile(std::string_view sourcePath, std::string_view heldAbove,
                             WaitNotice onLongWait)
    : source_(sourcePath),
      name_(std::string(sourcePath) + std::string(kProcessedSuffix)),
      heldAbove_(heldAbove),
      onLongWait_(std::move(onLongWait)) {}

ProcessedFile::~ProcessedFile() {
  // Before its lock goes with turn_, so that a waiting run finds the name as it was.
  if (isMadeEmpty_ && fileIdentityAt(name_) == turnIdentity_) removeFile(name_);
}

// Opens what the turn is taken on: the file at the name; where nothing stands there, an empty
// file made there, so that the runs of a clean build take turns too; the folder where the file
// there cannot be opened or is no regular file.
std::optional<Failure> ProcessedFile::openTurn() {
  isMadeEmpty_ = false;
  isTurnOnFolder_ = false;
  for (;;) {
    Opened atName = openToLock(name_);
    switch (atName.error) {
      case FileError::kNone:
        turn_ = std::move(atName.file);
        return std::nullopt;
      case FileError::kMissing: {
        Opened made = createNewFile(name_);
        if (made.error == FileError::kExists) continue;  // made meanwhile by another run
        if (made.error != FileError::kNone) {
          return Failure{Message::kCannotCreateProcessed, {name_}};
        }
        turn_ = std::move(made.file);
        isMadeEmpty_ = true;
        return std::nullopt;
      }
      case FileError::kIsDirectory:
      case FileError::kIsDevice:
        return Failure{Message::kCannotCreateProcessed, {name_}};
      default:
        turn_ = openFolderOf(name_);
        isTurnOnFolder_ = true;
        return std::nullopt;
    }
  }
}

std::optional<Failure> ProcessedFile::takeTurn() {
  int interval = 1;  // milliseconds: polled, so that the wait is measured without signals
  for (isTurnHeld_ = false;;) {
    if (auto failure = openTurn()) return failure;
    if (!turn_.isOpen()) return std::nullopt;  // not even the folder opens: no turn
    turnIdentity_ = fileIdentity(turn_);
    if (isAmong(heldAbove_, turnIdentity_)) return Failure{Message::kNestedRun, {source_}};
    const LockResult lock = tryLockTurn(turn_);
    if (lock == LockResult::kNoLocks) return std::nullopt;
    if (lock == LockResult::kLocked) {
      // The file may have been replaced while this run waited; a run waiting on the folder takes
      // the file's turn once the file can be opened.
      if (isTurnOnFolder_ ? openToLock(name_).error != FileError::kNone
                          : fileIdentityAt(name_) == turnIdentity_) {
        isTurnHeld_ = true;
        return std::nullopt;
      }
    } else {
      // Said once a run, however many holders it waits for.
      const auto now = std::chrono::steady_clock::now();
      if (!waitStart_.has_value()) waitStart_ = now;
      if (!isWaitSaid_ && now - *waitStart_ >= kWaitBeforeSaying) {
        onLongWait_(findLockHolder(turn_));
        isWaitSaid_ = true;
      }
      turn_.close();  // on Windows the run that holds the turn cannot replace it while open
      pauseFor(interval);
      interval = std::min(interval * 2, 32);
    }
  }
}

ProcessedFile::NewFileOutcome ProcessedFile::writeNewFile(TextWriter& text) {
  WriteGuard guard;
  const Failure cannotCreate{Message::kCannotCreateProcessed, {name_}};
  const Failure cannotWrite{Message::kCannotWriteProcessed, {name_}};
  Opened created = createUnnamedFile(name_);
  std::string temporary;
  if (created.error == FileError::kUnsupported) {
    // Where the turn is the name's own (a mutex on Windows), a file at the fixed name was left by
    // a run that held the turn before and has ended: it goes, so at most one is ever left.
    const bool isFixed = isTurnHeld_ && !isTurnOnFolder_ && kIsTurnKeyedByName;
    created.error = FileError::kExists;
    for (int attempt = 0; attempt < 8 && created.error == FileError::kExists; ++attempt) {
      temporary = temporaryNameFor(name_, isFixed ? TemporaryName::kFixed : TemporaryName::kRandom);
      if (isFixed) removeFile(temporary);
      created.error = guard.nameNewFile(temporary, [&] {
        Opened made = createNewFile(temporary);
        created.file = std::move(made.file);
        return made.error;
      });
    }
  }
  if (created.error != FileError::kNone) {
    return {cannotCreate, created.error == FileError::kNotAllowed};
  }
  if (!isMadeEmpty_) copyPermissions(name_, created.file);
  isTextRead_ = true;
  const Written written = text.writeTo(created.file);
  if (written.failure.has_value()) return {written.failure};
  if (written.writeError != FileError::kNone) {
    return {cannotWrite, written.writeError == FileError::kNoRoom};
  }
  const std::string identity = fileIdentity(created.file);  // before Windows closes it
  if (!finishWriting(created.file)) return {cannotWrite};
  if (isTurnHeld_ && !isTurnOnFolder_ && fileIdentityAt(name_) != turnIdentity_) {
    // Another process took the name while this run wrote (a parallel clean): the turn again.
    if (auto failure = takeTurn()) return {failure};
  }
  if (isTurnHeld_) moveTurnTo(created.file);
  if (temporary.empty()) {
    for (int attempt = 0; attempt < 8; ++attempt) {
      temporary = temporaryNameFor(name_, TemporaryName::kRandom);
      const FileError named =
          guard.nameNewFile(temporary, [&] { return nameUnnamedFile(created.file, temporary); });
      if (named == FileError::kNone) break;
      temporary.clear();
      if (named != FileError::kExists) break;
    }
    if (temporary.empty()) return {cannotCreate};
  }
  FileHandle none;
  const FileError put = replaceFile(temporary, name_, isTurnOnFolder_ ? none : turn_);
  if (put != FileError::kNone) {
    return {cannotCreate, put == FileError::kNotAllowed};
  }
  guard.keepNewFile();
  isMadeEmpty_ = false;
  written_ = std::move(created.file);
  identities_ = identity;
  if (isTurnOnFolder_) identities_ += " " + turnIdentity_;
  return {};
}

FileHandle ProcessedFile::openInPlace(std::string_view sourceIdentity) const {
  // The turn's file, checked again by what it is: not the source (mounted there, say), and with no
  // other name, which writing into it would change too.
  if (turnIdentity_ == sourceIdentity) return {};
  FileHandle file = openForWriting(name_);
  if (!file.isOpen() || fileIdentity(file) != turnIdentity_ || !hasOneName(file)) return {};
  return file;
}

std::optional<Failure> ProcessedFile::writeInPlace(TextWriter& text, FileHandle file) {
  const Failure cannotWrite{Message::kCannotWriteProcessed, {name_}};
  // Checked before the old text is touched.
  if (isTextRead_ && !text.rewind()) return cannotWrite;
  const WriteGuard guard;
  if (!truncateFile(file)) return cannotWrite;
  isTextRead_ = true;
  const Written written = text.writeTo(file);
  if (written.failure.has_value()) return written.failure;
  // A failed close may mean the data never reached the disk.
  if (written.writeError != FileError::kNone || !file.close()) return cannotWrite;
  isWrittenInPlace_ = true;
  isMadeEmpty_ = false;  // it holds the text now
  identities_ = turnIdentity_;
  return std::nullopt;
}

std::optional<Failure> ProcessedFile::write(TextWriter& text, std::string_view sourceIdentity) {
  NewFileOutcome outcome = writeNewFile(text);
  if (!outcome.isInPlaceWanted) return outcome.failure;
  // The new file is gone, and its room with it.
  FileHandle file = openInPlace(sourceIdentity);
  if (!file.isOpen()) return outcome.failure;
  return writeInPlace(text, std::move(file));
}

void ProcessedFile::handToCompiler() const {
  handTurnToCompiler(written_.isOpen() ? written_ : turn_);
  if (isTurnOnFolder_) handTurnToCompiler(turn_);
}

void ProcessedFile::removeAfterFailedLaunch() const {
  if (!isWrittenInPlace_) removeFile(name_);
}

}  // namespace kvowrapper
