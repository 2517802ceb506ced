#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "system/file_access.h"
#include "system/wide_win32.h"

namespace kvowrapper {

namespace {

HANDLE handleOf(const FileHandle& file) {
  return reinterpret_cast<HANDLE>(file.native());
}

FileError errorOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return FileError::kExists;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return FileError::kMissing;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_NOT_SAME_DEVICE:
      return FileError::kNotAllowed;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return FileError::kNoRoom;
    default:
      return FileError::kOther;
  }
}

FileHandle fromHandle(HANDLE handle) {
  return FileHandle(handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(handle));
}

}  // namespace

size_t folderEnd(std::string_view path) {
  const size_t separator = path.find_last_of("/\\:");
  return separator == std::string_view::npos ? 0 : separator + 1;
}

bool FileHandle::close() {
  if (!isOpen()) return true;
  return CloseHandle(reinterpret_cast<HANDLE>(std::exchange(native_, kNone))) != 0;
}

FileHandle openSource(const std::string& path) {
  FileHandle file = fromHandle(CreateFileW(widePath(path).c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  // AUX.rsrc and COM1.rsrc name devices, whose reading would block; pipes stay sources.
  if (file.isOpen() && GetFileType(handleOf(file)) == FILE_TYPE_CHAR) return {};
  return file;
}

Opened openToLock(const std::string& path) {
  HANDLE opened =
      CreateFileW(widePath(path).c_str(), FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (opened == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return {FileHandle(), FileError::kMissing};
    }
    return {FileHandle(), FileError::kNotAllowed};
  }
  FileHandle file = fromHandle(opened);
  if (GetFileType(opened) == FILE_TYPE_CHAR) return {FileHandle(), FileError::kIsDevice};
  BY_HANDLE_FILE_INFORMATION information{};
  if (GetFileType(opened) != FILE_TYPE_DISK || !GetFileInformationByHandle(opened, &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return {FileHandle(), FileError::kOther};
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return {FileHandle(), FileError::kIsDirectory};
  }
  return {std::move(file), FileError::kNone};
}

FileHandle openFolderOf(const std::string& path) {
  const std::string folder = path.substr(0, folderEnd(path)) + ".";
  return fromHandle(CreateFileW(widePath(folder).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

FileHandle openForWriting(const std::string& path) {
  FileHandle file = fromHandle(CreateFileW(
      widePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file.isOpen() && GetFileType(handleOf(file)) != FILE_TYPE_DISK) return {};
  return file;
}

Opened createNewFile(const std::string& path) {
  // Shared for deletion, so that an interrupt can remove it while it is open.
  HANDLE created = CreateFileW(widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (created != INVALID_HANDLE_VALUE) return {fromHandle(created), FileError::kNone};
  return {FileHandle(), errorOf(GetLastError())};
}

// Windows has no file without a name that can be given one later.
Opened createUnnamedFile(const std::string& /*path*/) {
  return {FileHandle(), FileError::kUnsupported};
}

FileError nameUnnamedFile(const FileHandle& /*file*/, const std::string& /*path*/) {
  return FileError::kUnsupported;
}

std::optional<size_t> readSome(const FileHandle& file, char* buffer, size_t size) {
  DWORD got = 0;
  const auto asked = static_cast<DWORD>(std::min<size_t>(size, DWORD{1} << 30));
  if (ReadFile(handleOf(file), buffer, asked, &got, nullptr)) return got;
  // A pipe whose writer has gone has ended.
  if (GetLastError() == ERROR_BROKEN_PIPE) return 0;
  return std::nullopt;
}

FileError writeAll(const FileHandle& file, const char* data, size_t size) {
  while (size > 0) {
    DWORD put = 0;
    const auto asked = static_cast<DWORD>(std::min<size_t>(size, DWORD{1} << 30));
    if (!WriteFile(handleOf(file), data, asked, &put, nullptr)) {
      return errorOf(GetLastError()) == FileError::kNoRoom ? FileError::kNoRoom : FileError::kOther;
    }
    if (put == 0) return FileError::kOther;
    data += put;
    size -= put;
  }
  return FileError::kNone;
}

bool finishWriting(FileHandle& file) {
  return file.close();
}

namespace {

std::string identityOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(handle, &information)) return {};
  return std::to_string(information.dwVolumeSerialNumber) + ":" +
         std::to_string(information.nFileIndexHigh) + ":" +
         std::to_string(information.nFileIndexLow);
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

// Windows files have no permission bits; their access lists come from the folder.
void copyPermissions(const std::string& /*path*/, const FileHandle& /*file*/) {}

FileError replaceFile(const std::string& from, const std::string& to, FileHandle& openAtTo) {
  openAtTo.close();
  const std::wstring target = widePath(to);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return FileError::kIsDirectory;
  }
  const std::wstring source = widePath(from);
  // Virus scanners and indexers hold files open for a moment; about a second is waited out.
  constexpr int kAttempts = 40;
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      return FileError::kNone;
    }
    const FileError error = errorOf(GetLastError());
    if (error != FileError::kNotAllowed || attempt + 1 == kAttempts) return error;
    Sleep(25);
  }
}

void removeFile(const std::string& path) {
  DeleteFileW(widePath(path).c_str());
}

void pauseFor(int milliseconds) {
  Sleep(static_cast<DWORD>(milliseconds));
}

}  // namespace kvowrapper
