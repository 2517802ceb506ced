#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "system/file_access.h"
#include "system/messages.h"
#include "system/utf16.h"
#include "system/wide_path_win32.h"
#include "system/windows_path.h"

namespace kvowrapper {

namespace {

HANDLE handleOf(const FileHandle& file) {
  return reinterpret_cast<HANDLE>(file.native());  // NOLINT(performance-no-int-to-ptr)
}

std::wstring toWide(std::string_view text) {
  const std::u16string units = toUtf16(text);
  return std::wstring(units.begin(), units.end());
}

FileHandle fromHandle(HANDLE handle) {
  return FileHandle(handle == INVALID_HANDLE_VALUE ? -1
                                                   : reinterpret_cast<intptr_t>(handle));  // NOLINT
}

}  // namespace

std::wstring widePath(const std::string& path) {
  const std::wstring given = toWide(path);
  std::wstring full(GetFullPathNameW(given.c_str(), 0, nullptr, nullptr), L'\0');
  full.resize(
      GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
  if (full.empty()) return given;
  const std::u16string extended = extendedLengthPath(std::u16string(full.begin(), full.end()));
  return std::wstring(extended.begin(), extended.end());
}

bool isFileAt(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(widePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FileHandle::close() {
  if (!isOpen()) return true;
  return CloseHandle(reinterpret_cast<HANDLE>(std::exchange(native_, kNone))) != 0;  // NOLINT
}

FileHandle openSource(const std::string& path) {
  return fromHandle(CreateFileW(widePath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle openRegularFile(const std::string& path, bool& isMissing) {
  // For reading only: a compiler that shares its input for reading alone must be able to open
  // the processed file while this handle holds its lock.
  HANDLE opened = CreateFileW(widePath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  const DWORD error = GetLastError();
  isMissing = opened == INVALID_HANDLE_VALUE &&
              (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND);
  FileHandle file = fromHandle(opened);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!file.isOpen() || GetFileType(opened) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(opened, &information) ||
      (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
          0) {
    return {};
  }
  return file;
}

FileHandle openForWriting(const std::string& path) {
  return fromHandle(CreateFileW(widePath(path).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

namespace {

// The name of the mutex that stands for the lock on a file: its full path as the file system
// spells it (whatever link or spelling opened it), hashed to fit a name. Global, so that runs in
// other sessions wait for it too; local where that is refused.
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

LockResult lockFile(FileHandle& file, const std::string& path, bool isWaiting,
                    const std::string& source) {
  constexpr DWORD kWaitBeforeSaying = 5000;  // milliseconds
  const std::wstring name = mutexNameFor(handleOf(file));
  if (name.empty()) return LockResult::kUnavailable;
  HANDLE mutex = CreateMutexW(nullptr, FALSE, (L"Global\\" + name).c_str());
  if (mutex == nullptr) mutex = CreateMutexW(nullptr, FALSE, (L"Local\\" + name).c_str());
  if (mutex == nullptr) return LockResult::kUnavailable;
  // Held until the wrapper ends, which lets it go whatever way it ends; the handle is never
  // inherited, so nothing the compiler leaves behind holds it.
  DWORD waited = WaitForSingleObject(mutex, 0);
  if (waited == WAIT_TIMEOUT && isWaiting) {
    // The run that holds the turn will replace the file, which it cannot while it is open here.
    file.close();
    waited = WaitForSingleObject(mutex, kWaitBeforeSaying);
    if (waited == WAIT_TIMEOUT) {
      report(Message::kWaitingForLock, {source});
      waited = WaitForSingleObject(mutex, INFINITE);
    }
    bool isMissing = false;
    file = openRegularFile(path, isMissing);
  }
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return LockResult::kLocked;
  CloseHandle(mutex);
  return waited == WAIT_TIMEOUT ? LockResult::kBusy : LockResult::kUnavailable;
}

namespace {

std::string identityOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(handle, &information)) return {};
  // The time it was last written too, since a removed file's index may be given to another.
  return std::to_string(information.dwVolumeSerialNumber) + ":" +
         std::to_string(information.nFileIndexHigh) + ":" +
         std::to_string(information.nFileIndexLow) + ":" +
         std::to_string(information.ftLastWriteTime.dwHighDateTime) + "." +
         std::to_string(information.ftLastWriteTime.dwLowDateTime);
}

}  // namespace

std::string fileIdentity(const FileHandle& file) {
  return identityOf(handleOf(file));
}

std::string fileIdentityAt(const std::string& path) {
  const FileHandle file = fromHandle(CreateFileW(
      widePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file.isOpen() ? identityOf(handleOf(file)) : std::string();
}

bool hasOneName(const FileHandle& file) {
  BY_HANDLE_FILE_INFORMATION information{};
  return GetFileInformationByHandle(handleOf(file), &information) &&
         information.nNumberOfLinks == 1;
}

bool truncateFile(const FileHandle& file) {
  return rewindFile(file) && SetEndOfFile(handleOf(file));
}

bool rewindFile(const FileHandle& file) {
  return GetFileType(handleOf(file)) == FILE_TYPE_DISK &&
         SetFilePointerEx(handleOf(file), LARGE_INTEGER{}, nullptr, FILE_BEGIN);
}

void copyPermissions(const FileHandle& /*from*/, const FileHandle& /*to*/) {}

void passToCompiler(const FileHandle& /*file*/) {}

int64_t readSome(const FileHandle& file, char* buffer, size_t size) {
  DWORD got = 0;
  const auto asked = static_cast<DWORD>(std::min<size_t>(size, DWORD{1} << 30));
  if (ReadFile(handleOf(file), buffer, asked, &got, nullptr)) return got;
  return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;  // a pipe's writer has gone: its end
}

FileHandle createNewFile(const std::string& path) {
  // Shared for deletion, so that an interrupt can remove it while it is open.
  return fromHandle(CreateFileW(widePath(path).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool writeAll(const FileHandle& file, const char* data, size_t size) {
  while (size > 0) {
    DWORD put = 0;
    const auto asked = static_cast<DWORD>(std::min<size_t>(size, DWORD{1} << 30));
    if (!WriteFile(handleOf(file), data, asked, &put, nullptr) || put == 0) return false;
    data += put;
    size -= put;
  }
  return true;
}

FileHandle finishWriting(FileHandle written, const std::string& path) {
  bool isMissing = false;
  FileHandle reader = openRegularFile(path, isMissing);
  if (!written.close()) return {};
  return reader;
}

ReplaceResult replaceFile(const std::string& from, const std::string& to, FileHandle& openAtTo) {
  openAtTo.close();
  const std::wstring target = widePath(to);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return ReplaceResult::kIsDirectory;
  }
  const std::wstring source = widePath(from);
  // Virus scanners and indexers hold files open for a moment; about a second is waited out.
  constexpr int kAttempts = 40;
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      return ReplaceResult::kReplaced;
    }
    const DWORD error = GetLastError();
    const bool isBusy = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                        error == ERROR_LOCK_VIOLATION;
    if (!isBusy || attempt + 1 == kAttempts) return ReplaceResult::kFailed;
    Sleep(25);
  }
}

void removeFile(const std::string& path) {
  DeleteFileW(widePath(path).c_str());
}

std::optional<std::string> toAnsiText(std::string_view text) {
  const UINT codePage = GetACP();
  if (codePage == CP_UTF8) return toUtf8Text(text);
  const std::wstring units = toWide(text);
  if (units.empty()) return std::string();
  BOOL isLacking = FALSE;
  const auto count = static_cast<int>(units.size());
  const int size = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, units.data(), count, nullptr,
                                       0, nullptr, &isLacking);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, units.data(), count, bytes.data(), size,
                      nullptr, &isLacking);
  if (size == 0 || isLacking) return std::nullopt;
  return bytes;
}

std::optional<std::string> toUtf8Text(std::string_view text) {
  if (hasSurrogate(text)) return std::nullopt;
  return std::string(text);
}

std::string_view ansiCodePageName() {
  return GetACP() == CP_UTF8 ? "UTF-8" : "the ANSI code page";
}

// Messages go to a console as UTF-16, which it shows as it is (its own code page is not the ANSI
// one: é in the ANSI bytes would show as Ú); to a file or a pipe as narrow text in the ANSI code
// page, where a character it lacks shows as '?'.
void writeToStandardError(std::string_view line) {
  const std::wstring units = toWide(line);
  HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(console, &mode)) {
    std::fflush(stderr);
    DWORD written = 0;
    WriteConsoleW(console, units.data(), static_cast<DWORD>(units.size()), &written, nullptr);
    return;
  }
  const auto count = static_cast<int>(units.size());
  const int size =
      WideCharToMultiByte(CP_ACP, 0, units.data(), count, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, units.data(), count, bytes.data(), size, nullptr, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  // The runtime buffers standard error when it is a file or a pipe: a message such as the one
  // about waiting must show when it is written, not when the wrapper ends.
  std::fflush(stderr);
}

}  // namespace kvowrapper
