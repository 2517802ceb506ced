// Runs a program with the given arguments (none of which may need quoting), waits for it, and
// prints its exit code as an unsigned decimal number.
#include <process.h>

#include <cstdint>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const intptr_t status = _spawnv(_P_WAIT, argv[1], argv + 1);
  std::printf("%lu\n", static_cast<unsigned long>(static_cast<uint32_t>(status)));
  return 0;
}
