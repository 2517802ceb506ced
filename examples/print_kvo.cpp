// A stand-in for the real resource compiler: prints the argument vector it received and the text
// of every processed resource file among its arguments.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  static const char kSuffix[] = "-processed.rsrc";
  for (int i = 0; i < argc; ++i) std::printf("argv[%d] = %s\n", i, argv[i]);
  for (int i = 1; i < argc; ++i) {
    const size_t length = std::strlen(argv[i]);
    const size_t suffix = sizeof(kSuffix) - 1;
    if (length < suffix || std::strcmp(argv[i] + length - suffix, kSuffix) != 0) continue;
    std::printf("\n--- %s ---\n", argv[i]);
    std::FILE* file = std::fopen(argv[i], "rb");
    if (file == nullptr) return 1;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
      std::fwrite(buffer, 1, got, stdout);
    std::fclose(file);
  }
  return 0;
}
