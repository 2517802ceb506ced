#pragma once

// How Windows reads the command lines the launcher builds, modelled from the documented rules,
// to check those lines on any machine: a C runtime splitting its command line into argv, and cmd
// reading the text after /c.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace windows_model {

// The two rules C runtimes read "" inside quotes by: as a literal quote, staying quoted (the
// runtimes since 2008), or as a literal quote that also leaves quoted mode (the system's
// msvcrt.dll, which MinGW-built programs use).
enum class Runtime { k2008, kMsvcrt };

// argv as a C runtime reads `line`: the program name up to the next quote when it starts with
// one (no escapes), else up to a space or tab; then arguments split at spaces and tabs outside
// quotes, where 2n backslashes and a quote give n backslashes and a quote that opens or closes,
// 2n + 1 give n and a literal quote, other backslashes stand as they are, and "" inside quotes
// is read by `runtime`'s rule.
inline std::vector<std::string> splitCommandLine(std::string_view line, Runtime runtime) {
  std::vector<std::string> argv;
  size_t at = 0;
  if (line.starts_with('"')) {
    const size_t end = std::min(line.find('"', 1), line.size());
    argv.emplace_back(line.substr(1, end - 1));
    at = end + 1;
  } else {
    at = std::min(line.find_first_of(" \t"), line.size());
    argv.emplace_back(line.substr(0, at));
  }
  while (true) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    if (at >= line.size()) return argv;
    std::string argument;
    bool isQuoted = false;
    for (; at < line.size() && (isQuoted || (line[at] != ' ' && line[at] != '\t'));) {
      size_t backslashes = 0;
      while (at < line.size() && line[at] == '\\') ++backslashes, ++at;
      if (at < line.size() && line[at] == '"') {
        argument.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          argument += '"';
          ++at;
        } else if (isQuoted && at + 1 < line.size() && line[at + 1] == '"') {
          argument += '"';
          at += 2;
          isQuoted = runtime == Runtime::k2008;
        } else {
          isQuoted = !isQuoted;
          ++at;
        }
      } else {
        argument.append(backslashes, '\\');
        if (backslashes == 0) argument += line[at++];
      }
    }
    argv.push_back(argument);
  }
}

// The command cmd runs for a line "SHELL /d /v:off /c TEXT": TEXT with its first and last quote
// taken away. None when cmd would act on any of it rather than pass it as text: one of & | < > ( )
// ^ outside quotes (quotes open and close at every one), a % anywhere, a line break, or a ! when
// delayed expansion is on.
inline std::optional<std::string> readCmdCommand(std::string_view line) {
  const size_t c = line.find(" /c ");
  if (c == std::string_view::npos) return std::nullopt;
  std::string command(line.substr(c + 4));
  if (command.starts_with('"')) {
    command.erase(0, 1);
    const size_t last = command.rfind('"');
    if (last != std::string::npos) command.erase(last, 1);
  }
  const bool isDelayed = line.find(" /v:off ") == std::string_view::npos;
  bool isQuoted = false;
  for (const char ch : command) {
    if (ch == '"') isQuoted = !isQuoted;
    if (ch == '%' || ch == '\r' || ch == '\n' || (ch == '!' && isDelayed)) return std::nullopt;
    if (!isQuoted && std::string_view("&|<>()^").find(ch) != std::string_view::npos) {
      return std::nullopt;
    }
  }
  return command;
}

// A batch script's %0 (its first token, unquoted) and %* (the rest, after the delimiters that
// follow it) in a command cmd runs.
inline std::pair<std::string, std::string> splitScript(std::string_view command) {
  size_t end = command.starts_with('"') ? command.find('"', 1) + 1
                                        : std::min(command.find(' '), command.size());
  std::string script(command.substr(0, end));
  if (script.starts_with('"')) script = script.substr(1, script.size() - 2);
  while (end < command.size() &&
         std::string_view(" \t,;=").find(command[end]) != std::string_view::npos) {
    ++end;
  }
  return {script, std::string(command.substr(end))};
}

}  // namespace windows_model
