#include "driver/driver.h"

#include <cstdio>
#include <string>
#include <vector>

#include "driver/arguments.h"
#include "driver/definition_table.h"
#include "driver/launch.h"
#include "preprocess/processed_file.h"

namespace kvowrapper {

int runWrapper(int argc, const char* const* argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: call kvowrapper instead of kvo.\n");
    std::fprintf(stderr, "(the first parameter must tell me where the real kvo.exe is.)\n");
    return 1;
  }
  const char* realCompilerPath = argv[1];
  const auto forwardedCount = static_cast<size_t>(argc - 2);
  // Entry i stands for argv[i + 2]; the trailing nullptr ends the vector for the launch.
  std::vector<const char*> forwarded(forwardedCount + 1, nullptr);
  std::vector<size_t> sourceEntries;
  const char* inputPath = nullptr;
  DefinitionTable table;

  for (size_t i = 0; i < forwardedCount; ++i) {
    const char* argument = argv[i + 2];
    // The resource test comes first: "-DX=a.rsrc" is a source, not a definition.
    if (isResourceSource(argument)) {
      inputPath = argument;  // a later source replaces an earlier one
      sourceEntries.push_back(i);
      continue;
    }
    if (isDefinitionOption(argument)) recordDefinition(table, argument);
    forwarded[i] = argument;
  }
  if (inputPath == nullptr) {
    std::fprintf(stderr, "kvowrapper: you never specified an input file\n");
    return 1;
  }

  std::string processedName;
  if (!produceProcessedFile(table, processedName, inputPath)) return 1;
  // Every source position carries the processed path of the last source.
  for (const size_t entry : sourceEntries) forwarded[entry] = processedName.c_str();

  if (const auto status = launchRealCompiler(realCompilerPath, forwarded.data())) {
    return *status;  // the compiler ran (and was waited for, where the platform cannot exec)
  }
  // The compiler could not be started and will never read the file.
  std::remove(processedName.c_str());
  return -1;
}

}  // namespace kvowrapper
