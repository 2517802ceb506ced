#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace kvowrapper {

// Every message the wrapper writes; their texts stand in one table in messages.cpp.
enum class Message {
  kUsage,
  kHelp,
  kNoInputFile,
  kCannotOpenInput,        // the input path
  kCannotReadInput,        // the input path
  kCannotCreateProcessed,  // the processed name
  kCannotWriteProcessed,   // the processed name
  kOutOfMemory,
  kWaitingForLock,        // the input path
  kWaitingForLockHolder,  // the input path, the process holding the turn
  kNestedRun,             // the input path
  kUnencodableValue,      // the definition's name, the encoding
  kBatchArgument,         // the argument's position, the script
  kCannotRunBatch,        // the script
  kProgramName,           // the program name
};

// What went wrong below a step: the message that says it and what the message names, in order.
// The step that called writes it.
struct Failure {
  Message message;
  std::vector<std::string> subjects;
};

// The text of `message` with `subjects` put in place of its %s marks, in order.
std::string formatMessage(Message message, std::initializer_list<std::string_view> subjects = {});

// Writes the message to standard error.
void report(Message message, std::initializer_list<std::string_view> subjects = {});
void report(const Failure& failure);

}  // namespace kvowrapper
