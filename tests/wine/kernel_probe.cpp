// Asks the kernel whether it runs a program: prints "yes" when the program ran and exited with
// status 3 (the tiny 32-bit program built beside this one does), "no" when the kernel refused it
// as a format it does not run (ENOEXEC, as where 32-bit emulation is off). Anything else, such as
// a missing file or a refused permission, is no answer: status 2 and the reason.
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kernel_probe PROGRAM\n");
    return 2;
  }
  char* const arguments[] = {argv[1], nullptr};
  pid_t child = 0;
  // glibc's posix_spawn returns the exec's own error, and tries no shell on ENOEXEC.
  const int error = posix_spawn(&child, argv[1], nullptr, nullptr, arguments, nullptr);
  if (error == ENOEXEC) {
    std::puts("no");
    return 0;
  }
  int status = 0;
  if (error != 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 3) {
    std::fprintf(stderr, "kernel_probe: %s did not run and exit with status 3: %s\n", argv[1],
                 error != 0 ? std::strerror(error) : "another ending");
    return 2;
  }
  std::puts("yes");
  return 0;
}
