/* The floor for any wrapper: a static program that only hands control to the next one. */
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) return 1;
  execvp(argv[1], argv + 1);
  return 255;
}
