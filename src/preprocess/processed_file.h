#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "preprocess/written.h"
#include "system/file_access.h"
#include "system/messages.h"

namespace kvowrapper {

// Appended to the source's path to name the processed file beside it.
inline constexpr std::string_view kProcessedSuffix = "-processed.rsrc";

// The processed file's life, owned by one object. Its rules, each with the one mechanism that
// keeps it, the test that shows it and what remains, are in doc/processed-file.md:
// 1. a compiler reads only the text its own run wrote, whole (the turn);
// 2. every run has a turn, whatever the file at the name (the file, or its folder);
// 3. a name taken meanwhile does not hand a compiler another text (checked before the rename);
// 4. a failed run leaves the name as it was (new files unnamed or guarded; empty file removed);
// 5. the text is written in place only where no new file can be (refused, or no room);
// 6. no run removes a file it did not make (unnamed or random names; Windows' fixed name);
// 7. no run waits for itself (KVOWRAPPER_PROCESSING);
// 8. a compiler's own locks on its input are its own (flock, not fcntl);
// 9. a standard descriptor never aliases a file (main);
// 10. a run that waits says so once (after five seconds in all).
class ProcessedFile {
 public:
  // Called once a run has waited five seconds for its turn, with the process that holds it where
  // the system tells.
  using WaitNotice = std::function<void(const std::optional<std::string>& holdingProcess)>;

  // The text a processed file is written with. It may be asked for twice, the second time to
  // write it in place.
  class TextWriter {
   public:
    virtual ~TextWriter() = default;
    virtual Written writeTo(const FileHandle& out) = 0;
    // Makes the next writeTo start again from the source's start; false where it cannot (a pipe).
    virtual bool rewind() = 0;
  };

  // The processed file of the source at `sourcePath`; `heldAbove` lists the identities that the
  // runs this one was started under hold (see identities).
  ProcessedFile(std::string_view sourcePath, std::string_view heldAbove, WaitNotice onLongWait);
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
  std::string heldAbove_;
  WaitNotice onLongWait_;
  std::optional<std::chrono::steady_clock::time_point> waitStart_;
  bool isWaitSaid_ = false;
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
