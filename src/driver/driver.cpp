#include "driver/driver.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "definitions/definition_table.h"
#include "driver/arguments.h"
#include "driver/launch.h"
#include "preprocess/processed_file.h"
#include "preprocess/production.h"
#include "system/messages.h"

namespace kvowrapper {

namespace {

// The environment variable that lists, to a compiler and what it runs, the identities of the
// processed files of the runs it was started under.
constexpr const char* kRunsVariable = "KVOWRAPPER_PROCESSING";

void printToStandardOutput(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace

int runWrapper(int argc, const char* const* argv) {
  // Only these two calls with nothing else are answered; everything else is a wrapper run.
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    printToStandardOutput("kvowrapper " KVOWRAPPER_VERSION "\n");
    return 0;
  }
  if (argc == 2 && std::string_view(argv[1]) == "--help") {
    printToStandardOutput(formatMessage(Message::kHelp));
    return 0;
  }
  if (argc < 3) {
    report(Message::kUsage);
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
    report(Message::kNoInputFile);
    return 1;
  }

  // What the compilers of the runs this one was started under hold, so that a compiler that runs
  // the wrapper again on its own source fails rather than wait for itself.
  const char* inherited = std::getenv(kRunsVariable);
  const std::string heldAbove = inherited == nullptr ? "" : inherited;
  ProcessedFile processed(inputPath, heldAbove,
                          [&](const std::optional<std::string>& holdingProcess) {
                            if (holdingProcess.has_value()) {
                              report(Message::kWaitingForLockHolder, {inputPath, *holdingProcess});
                            } else {
                              report(Message::kWaitingForLock, {inputPath});
                            }
                          });
  if (!produceProcessedFile(table, inputPath, processed)) return 1;
  // Every source position carries the processed path of the last source.
  for (const size_t entry : sourceEntries) forwarded[entry] = processed.name().c_str();
  setCompilerEnvironment(kRunsVariable, listRunIdentities(heldAbove, processed.identities(),
                                                          environmentValueLimit(kRunsVariable)));
  processed.handToCompiler();

  if (const auto status = launchRealCompiler(realCompilerPath, forwarded.data())) {
    return *status;  // the compiler ran (and was waited for, where the platform cannot exec)
  }
  // The compiler could not be started and will never read the file. The turn is still held, so
  // no other run is reading it; a file this run did not make stays.
  processed.removeAfterFailedLaunch();
  return -1;
}

}  // namespace kvowrapper
