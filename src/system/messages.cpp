#include "system/messages.h"

#include <string>

#include "system/standard_error.h"

namespace kvowrapper {

namespace {

std::string_view textOf(Message message) {
  switch (message) {
    case Message::kUsage:
      return "usage: call kvowrapper instead of kvo.\n"
             "(the first parameter must tell me where the real kvo.exe is.)\n";
    case Message::kHelp:
      return "usage: kvowrapper REAL-COMPILER PROGRAM-NAME [ARGUMENT...]\n"
             "Runs the resource compiler REAL-COMPILER on a processed copy of the *.rsrc source\n"
             "among the arguments: {name} references to -Dname=value definitions replaced,\n"
             "continued strings joined. PROGRAM-NAME is the compiler's own argv[0].\n"
             "See kvowrapper(1), or kvowrapper.html in the Windows zip, for the rules, messages\n"
             "and exit statuses.\n";
    case Message::kNoInputFile:
      return "kvowrapper: you never specified an input file\n";
    case Message::kCannotOpenInput:
      return "kvowrapper: unable to open input file %s\n";
    case Message::kCannotReadInput:
      return "kvowrapper: unable to read input file %s\n";
    case Message::kCannotCreateProcessed:
      return "kvowrapper: unable to create temporary file %s\n";
    case Message::kCannotWriteProcessed:
      return "kvowrapper: unable to write temporary file %s\n";
    case Message::kOutOfMemory:
      return "kvowrapper: out of memory\n";
    case Message::kWaitingForLock:
      return "kvowrapper: waiting for another run on %s\n";
    case Message::kWaitingForLockHolder:
      return "kvowrapper: waiting for another run on %s (process %s)\n";
    case Message::kNestedRun:
      return "kvowrapper: %s is already being processed by the run that started this one\n";
    case Message::kUnencodableValue:
      return "kvowrapper: the value of definition %s cannot be written in %s\n";
    case Message::kBatchArgument:
      return "kvowrapper: cannot pass argument %s to batch file %s\n";
    case Message::kCannotRunBatch:
      return "kvowrapper: cannot run batch file %s\n";
    case Message::kProgramName:
      return "kvowrapper: cannot pass the program name %s\n";
  }
  return "";
}

template <class Subjects>
std::string format(Message message, const Subjects& subjects) {
  const std::string_view text = textOf(message);
  std::string line;
  auto subject = subjects.begin();
  for (size_t at = 0; at < text.size(); ++at) {
    if (text.compare(at, 2, "%s") == 0 && subject != subjects.end()) {
      line.append(*subject++);
      ++at;
    } else {
      line += text[at];
    }
  }
  return line;
}

}  // namespace

std::string formatMessage(Message message, std::initializer_list<std::string_view> subjects) {
  return format(message, subjects);
}

void report(Message message, std::initializer_list<std::string_view> subjects) {
  // A message with nothing to put in is written as it stands: out of memory, it must be.
  if (subjects.size() == 0) {
    writeToStandardError(textOf(message));
  } else {
    writeToStandardError(formatMessage(message, subjects));
  }
}

void report(const Failure& failure) {
  writeToStandardError(format(failure.message, failure.subjects));
}

}  // namespace kvowrapper
