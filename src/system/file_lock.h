#pragma once

#include <optional>
#include <string>

#include "system/file_access.h"

namespace kvowrapper {

// The lock that gives a run its turn on a processed name. On POSIX it is flock's lock on the open
// file that stands at the name (or on its folder): it goes with the open file, through exec to
// the compiler, needs no descriptor open for writing, and leaves the compiler's own fcntl and
// lockf locks alone on local file systems. On Windows it is a mutex named after the file's full
// path, which the wrapper holds until it ends.

// True where the turn belongs to the name rather than to the file that stands there (Windows'
// mutex): a run that holds it is the only one that can be using a fixed name beside it.
extern const bool kIsTurnKeyedByName;

enum class LockResult { kLocked, kBusy, kNoLocks };

// Tries once to take the turn's lock on `file`: kBusy when another process holds it, kNoLocks
// where the file system has no locks (ENOLCK, EOPNOTSUPP and the like).
LockResult tryLockTurn(const FileHandle& file);

// Moves a held turn onto the new file that is about to replace the file at the name, so that the
// turn never lapses: on POSIX it locks `newFile`; on Windows nothing, since the mutex is the
// name's.
void moveTurnTo(const FileHandle& newFile);

// Lets the compiler that replaces the wrapper hold the turn: on POSIX `lockedFile` stays open
// through the exec; on Windows nothing, since the wrapper holds the mutex while it waits for the
// compiler.
void handTurnToCompiler(const FileHandle& lockedFile);

// A live process other than this one that holds a lock on `file`, where the system tells (Linux
// does); none elsewhere.
std::optional<std::string> findLockHolder(const FileHandle& file);

}  // namespace kvowrapper
