#include <fcntl.h>
#include <unistd.h>

#include <new>

#include "driver/driver.h"
#include "system/messages.h"

int main(int argc, char** argv) {
  // A descriptor 0, 1 or 2 that the build closed would go to the first file the wrapper opens, and
  // a message, or the compiler's output, into that file: each is held by the null device instead.
  for (int standard = 0; standard <= 2; ++standard) {
    if (fcntl(standard, F_GETFD) == -1) open("/dev/null", O_RDWR);
  }
  try {
    return kvowrapper::runWrapper(argc, argv);
  } catch (const std::bad_alloc&) {
    // The one place memory running out is caught; what was made is gone with the unwinding.
    kvowrapper::report(kvowrapper::Message::kOutOfMemory);
    return 1;
  }
}
