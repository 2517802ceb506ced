#include <windows.h>

#include <cstdint>
#include <string>

#include "system/file_lock.h"

namespace kvowrapper {

namespace {

// The name of the mutex that stands for the lock on a file: its full path as the file system
// spells it (whatever link or spelling opened it), hashed to fit a name.
std::wstring mutexNameFor(HANDLE file) {
  std::wstring path(GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED), L'\0');
  path.resize(GetFinalPathNameByHandleW(file, path.data(), static_cast<DWORD>(path.size()),
                                        FILE_NAME_NORMALIZED));
  if (path.empty()) return {};
  uint64_t hash = 14695981039346656037ULL;  // FNV-1a
  for (const wchar_t unit : path) hash = (hash ^ static_cast<uint16_t>(unit)) * 1099511628211ULL;
  return L"kvowrapper-" + std::to_wstring(hash);
}

}  // namespace

// The mutex is named after the path, so only the run that holds it uses the fixed name beside it.
const bool kIsTurnKeyedByName = true;

LockResult tryLockTurn(const FileHandle& file) {
  const std::wstring name = mutexNameFor(reinterpret_cast<HANDLE>(file.native()));
  if (name.empty()) return LockResult::kNoLocks;
  // Global, so that runs in other sessions wait for it too; local where that is refused.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, (L"Global\\" + name).c_str());
  if (mutex == nullptr) mutex = CreateMutexW(nullptr, FALSE, (L"Local\\" + name).c_str());
  if (mutex == nullptr) return LockResult::kNoLocks;
  const DWORD waited = WaitForSingleObject(mutex, 0);
  // Held until the wrapper ends, which lets it go whatever way it ends; the handle is never
  // inherited, so nothing the compiler leaves behind holds it.
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return LockResult::kLocked;
  CloseHandle(mutex);
  return waited == WAIT_TIMEOUT ? LockResult::kBusy : LockResult::kNoLocks;
}

// The mutex is the name's, not the file's: it stays with the name when the file is replaced.
void moveTurnTo(const FileHandle& /*newFile*/) {}

// The wrapper holds the mutex while it waits for the compiler.
void handTurnToCompiler(const FileHandle& /*lockedFile*/) {}

// Windows does not tell who holds a mutex.
std::optional<std::string> findLockHolder(const FileHandle& /*file*/) {
  return std::nullopt;
}

}  // namespace kvowrapper
