#include <new>

#include "driver/driver.h"
#include "system/messages.h"

int main(int argc, char** argv) {
  try {
    return kvowrapper::runWrapper(argc, argv);
  } catch (const std::bad_alloc&) {
    // The library reports the large allocations itself; this covers the small ones.
    kvowrapper::report(kvowrapper::Message::kOutOfMemory);
    return 1;
  }
}
