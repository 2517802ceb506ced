#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "preprocess/processed_text.h"
#include "system/file_access.h"
#include "system/messages.h"

namespace kvowrapper {

// Appended to the source's path to name the processed file beside it.
inline constexpr std::string_view kProcessedSuffix = "-processed.rsrc";

// The processed file's life. Each rule, the one mechanism that keeps it, and the test that shows
// it (doc/processed-file.md says the same for users, with what remains):
// 1. A compiler reads only the text its own run wrote, whole. Runs on one name take turns: a
//    flock lock (a mutex on Windows) on the file at the name, taken before writing, checked to be
//    still at the name once taken and again before the new file goes in place, moved onto the new
//    file before it replaces the old one, and held by the compiler until it ends.
//    [RunsOnOneSourceTakeTurns, TurnsHoldWhateverTheFileAtTheName]
// 2. Whatever the file at the name, there is a turn: it is opened for reading and writing, else
//    reading, else writing; where it cannot be opened at all, or is a link or a FIFO, the turn is
//    on its folder. Only a file system with no locks at all goes without one.
//    [TurnsHoldWhateverTheFileAtTheName, GoesOnWithoutALockWhereNoneCanBeHad]
// 3. A failed run leaves the name as it was: its new file goes with the owner (or, interrupted,
//    with the write guard), and an empty file it made at the name to lock goes too. The one
//    exception is writing in place, done only where no new file can be made or put in place or
//    the disk has no room for it. [FailuresLeaveNoFile, AnInterruptedRunLeavesAWholeText,
//    WriteFailuresLeaveTheOldText]
// 4. No run removes a file it did not make: new files have no name until whole (O_TMPFILE) or a
//    random one; no run removes another's. [AnInterruptedRunLeavesAWholeText]
// 5. No run waits for itself: the identities (device and inode) of what the compilers above it
//    hold are in KVOWRAPPER_PROCESSING; they stay true since those compilers keep the files
//    open. [ANestedRunFailsAtOnce]
// 6. The compiler's own locks on its input are its own: flock and fcntl locks do not meet on
//    local file systems. [CompilerMayLockItsInput]
class ProcessedFile {
 public:
  // Called once a run has waited five seconds for its turn, with the process that holds it where
  // the system tells.
  using WaitNotice = std::function<void(const std::optional<std::string>& holder)>;

  // The text a processed file is written with. It may be asked for twice, the second time to
  // write it in place.
  class TextWriter {
   public:
    virtual ~TextWriter() = default;
    virtual Written writeTo(const FileHandle& out) = 0;
    // Makes the next writeTo start again from the source's start; false where it cannot (a pipe).
    virtual bool rewind() = 0;
  };

  // The processed file of the source at `sourcePath`; `ancestors` lists the identities that the
  // runs this one was started under hold (see identities).
  ProcessedFile(std::string_view sourcePath, std::string_view ancestors, WaitNotice onLongWait);
  ProcessedFile(const ProcessedFile&) = delete;
  ProcessedFile& operator=(const ProcessedFile&) = delete;
  // Removes an empty file it made at the name that still stands there.
  ~ProcessedFile();

  const std::string& name() const { return name_; }

  // Takes the turn on the name, waiting while another run holds it. Fails at once where a run
  // this one was started under holds it.
  std::optional<Failure> takeTurn();

  // Writes the text into a new file and puts it in place; in place, into the file at the name,
  // where the new file cannot be made or put in place (the folder or the name refuses it) or the
  // disk has no room for it, and the file there is one the user may write, is not the source
  // (`sourceIdentity`) and has no other name. Any other failure leaves the name as it was.
  std::optional<Failure> write(TextWriter& text, std::string_view sourceIdentity);

  // What the compiler's turn rests on, space-separated, for the runs it starts to know.
  const std::string& identities() const { return identities_; }

  // Leaves the turn to the compiler that replaces the wrapper (see handTurnToCompiler).
  void handToCompiler() const;

  // The compiler could not be started: a file this run put at the name goes.
  void removeAfterFailedLaunch() const;

 private:
  struct NewFileOutcome;
  std::optional<Failure> openTurn();
  NewFileOutcome writeNewFile(TextWriter& text);
  FileHandle openInPlace(std::string_view sourceIdentity) const;
  std::optional<Failure> writeInPlace(TextWriter& text, FileHandle file);

  std::string source_;
  std::string name_;
  std::string ancestors_;
  WaitNotice onLongWait_;
  FileHandle turn_;  // the file at the name, or its folder, locked where `isTurnHeld_`
  std::string turnIdentity_;
  bool isTurnHeld_ = false;
  bool isTurnOnFolder_ = false;
  bool isMadeEmpty_ = false;  // the file at the name was made, empty, by this run to lock
  bool isTextRead_ = false;
  bool isWrittenInPlace_ = false;
  FileHandle written_;  // the new file in place, which holds the turn
  std::string identities_;
};

}  // namespace kvowrapper
