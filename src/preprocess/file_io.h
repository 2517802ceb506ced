#pragma once

#include <cstddef>
#include <cstdint>

namespace kvowrapper {

// Thin, portable file access by descriptor, in binary mode (no line-end translation). Each call
// returns what the platform call returns, retried when a signal interrupts it.

int openForReading(const char* path);  // a descriptor, or -1
// Opens for writing, creating the file with permission bits 0666 (less the umask) if missing.
// An existing file is truncated only where truncateFile cannot cut it to length afterwards.
int openForWriting(const char* path);
// Bytes read into buffer (at most size), 0 at the end, -1 on error.
int64_t readSome(int fd, char* buffer, size_t size);
bool writeAll(int fd, const char* data, size_t size);
bool truncateFile(int fd, uint64_t size);
bool closeFile(int fd);

}  // namespace kvowrapper
