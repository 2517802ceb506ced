// Stand-in for the real resource compiler in the end-to-end tests. It writes the argument vector
// it received to the file named by FAKE_KVO_RECORD (each entry followed by a NUL byte), "compiles"
// by copying the processed source it was given to the file named after "-fo", and exits with the
// status in FAKE_KVO_STATUS (0 when unset).
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool endsWith(const char* text, const char* suffix) {
  const size_t length = std::strlen(text);
  const size_t suffixLength = std::strlen(suffix);
  return length >= suffixLength && std::strcmp(text + length - suffixLength, suffix) == 0;
}

bool copyFile(const char* from, const char* to) {
  std::FILE* in = std::fopen(from, "rb");
  if (in == nullptr) return false;
  std::FILE* out = std::fopen(to, "wb");
  if (out == nullptr) {
    std::fclose(in);
    return false;
  }
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) std::fwrite(buffer, 1, got, out);
  std::fclose(in);
  return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* record = std::getenv("FAKE_KVO_RECORD")) {
    std::FILE* file = std::fopen(record, "wb");
    if (file == nullptr) return 99;
    for (int i = 0; i < argc; ++i) std::fwrite(argv[i], 1, std::strlen(argv[i]) + 1, file);
    std::fclose(file);
  }
  const char* output = nullptr;
  const char* source = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-fo") == 0 && i + 1 < argc)
      output = argv[++i];
    else if (endsWith(argv[i], "-processed.rsrc"))
      source = argv[i];
  }
  if (output != nullptr && (source == nullptr || !copyFile(source, output))) return 98;
  const char* status = std::getenv("FAKE_KVO_STATUS");
  // Parsed unsigned, so that Windows status codes such as 0xC0000005 come through whole.
  return status != nullptr ? static_cast<int>(std::strtoul(status, nullptr, 0)) : 0;
}
