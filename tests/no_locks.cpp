// Loaded with LD_PRELOAD into a dynamically linked kvowrapper, makes every lock fail as it does on
// a file system without locks (ENOLCK), for the tests of runs that go on without one.
#include <dlfcn.h>
#include <fcntl.h>

#include <cerrno>
#include <cstdarg>

namespace {

using Fcntl = int (*)(int, int, ...);

int callOrRefuse(const char* name, int descriptor, int command, void* argument) {
  if (command == F_OFD_SETLK || command == F_OFD_SETLKW || command == F_SETLK ||
      command == F_SETLKW) {
    errno = ENOLCK;
    return -1;
  }
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
  return reinterpret_cast<Fcntl>(dlsym(RTLD_NEXT, name))(descriptor, command, argument);
}

}  // namespace

// NOLINTBEGIN(cppcoreguidelines-pro-type-vararg, cert-dcl50-cpp)
extern "C" int fcntl(int descriptor, int command, ...) {
  va_list arguments;
  va_start(arguments, command);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  return callOrRefuse("fcntl", descriptor, command, argument);
}

extern "C" int fcntl64(int descriptor, int command, ...) {
  va_list arguments;
  va_start(arguments, command);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  return callOrRefuse("fcntl64", descriptor, command, argument);
}
// NOLINTEND(cppcoreguidelines-pro-type-vararg, cert-dcl50-cpp)
