// Loaded with LD_PRELOAD into a dynamically linked kvowrapper, makes every lock fail as it does on
// a file system without locks (ENOLCK), for the test of runs that go on without one.
#include <sys/file.h>

#include <cerrno>

extern "C" int flock(int /*descriptor*/, int /*operation*/) {
  errno = ENOLCK;
  return -1;
}
