#pragma once

#include <initializer_list>
#include <string_view>

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

// The text of `message` with `subjects` put in place of its %s marks, in order.
std::string formatMessage(Message message, std::initializer_list<std::string_view> subjects = {});

// Writes the message to standard error.
void report(Message message, std::initializer_list<std::string_view> subjects = {});

}  // namespace kvowrapper
