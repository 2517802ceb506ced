// Loaded with LD_PRELOAD into a dynamically linked kvowrapper, makes every lock fail as it does on
// a file system without locks (ENOLCK), for the tests of runs that go on without one.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstdarg>

// NOLINTNEXTLINE(cert-dcl50-cpp): it stands in for the C library's own
extern "C" int fcntl(int descriptor, int command, ...) {
  va_list arguments;
  va_start(arguments, command);
  void* argument = va_arg(arguments, void*);  // NOLINT(cppcoreguidelines-pro-type-vararg)
  va_end(arguments);
  if (command == F_OFD_SETLK || command == F_OFD_SETLKW || command == F_SETLK ||
      command == F_SETLKW) {
    errno = ENOLCK;
    return -1;
  }
  using Fcntl = int (*)(int, int, ...);
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
  return reinterpret_cast<Fcntl>(dlsym(RTLD_NEXT, "fcntl"))(descriptor, command, argument);
}

// NOLINTNEXTLINE(cert-dcl50-cpp): the same for flock, which a portable build locks with
extern "C" int flock(int /*descriptor*/, int /*operation*/) {
  errno = ENOLCK;
  return -1;
}
