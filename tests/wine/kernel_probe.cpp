// Asks the kernel whether it runs a program: prints "yes" when the program ran and exited with
// status 3 (the tiny 32-bit program built beside this one does), "no" when the kernel refused it
// as a format it does not run (ENOEXEC, as where 32-bit emulation is off). Anything else, such as
// a missing file or a refused permission, is no answer: status 2 and the reason.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kernel_probe PROGRAM\n");
    return 2;
  }
  // The child sends exec's errno back through a pipe that a successful exec closes.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return 2;
  const pid_t child = fork();
  if (child == 0) {
    char* const arguments[] = {argv[1], nullptr};
    execv(argv[1], arguments);
    const int error = errno;
    if (write(report[1], &error, sizeof error) < 0) _exit(126);
    _exit(126);
  }
  close(report[1]);
  int error = 0;
  const bool hasFailed = read(report[0], &error, sizeof error) == sizeof error;
  int status = 0;
  waitpid(child, &status, 0);
  if (hasFailed && error == ENOEXEC) {
    std::puts("no");
    return 0;
  }
  if (hasFailed) {
    std::fprintf(stderr, "kernel_probe: cannot run %s: %s\n", argv[1], std::strerror(error));
    return 2;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 3) {
    std::puts("yes");
    return 0;
  }
  std::fprintf(stderr, "kernel_probe: %s ran but did not exit with status 3\n", argv[1]);
  return 2;
}
