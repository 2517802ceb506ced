#include <cstdio>
#include <new>

#include "driver/driver.h"

int main(int argc, char** argv) {
  try {
    return kvowrapper::runWrapper(argc, argv);
  } catch (const std::bad_alloc&) {
    // The library reports the large allocations itself; this covers the small ones.
    std::fputs("kvowrapper: out of memory\n", stderr);
    return 1;
  }
}
