// Stand-in for the real resource compiler in the end-to-end tests. It writes the argument vector
// it received to the file named by FAKE_KVO_RECORD (each entry followed by a NUL byte) and exits
// with the status in FAKE_KVO_STATUS (0 when unset).
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (const char* record = std::getenv("FAKE_KVO_RECORD")) {
    std::FILE* file = std::fopen(record, "wb");
    if (file == nullptr) return 99;
    for (int i = 0; i < argc; ++i) std::fwrite(argv[i], 1, std::strlen(argv[i]) + 1, file);
    std::fclose(file);
  }
  const char* status = std::getenv("FAKE_KVO_STATUS");
  // Parsed unsigned, so that Windows status codes such as 0xC0000005 come through whole.
  return status != nullptr ? static_cast<int>(std::strtoul(status, nullptr, 0)) : 0;
}
