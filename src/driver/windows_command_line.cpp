#include "driver/windows_command_line.h"

#include <array>
#include <cctype>

namespace kvowrapper {

namespace {

bool hasExtension(std::string_view path) {
  const size_t component = path.find_last_of("\\/:");
  const size_t dot = path.rfind('.');
  return dot != std::string_view::npos && (component == std::string_view::npos || dot > component);
}

bool endsWithIgnoringCase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  text.remove_prefix(text.size() - suffix.size());
  for (size_t i = 0; i < suffix.size(); ++i) {
    // The program's own locale is "C", whose tolower maps A-Z alone.
    if (std::tolower(static_cast<unsigned char>(text[i])) != suffix[i]) return false;
  }
  return true;
}

}  // namespace

std::string quoteWindowsArgument(std::string_view argument) {
  std::string quoted;
  quoted.reserve(argument.size() + 2);
  quoted += '"';
  size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count double only before a quote, the embedded one or the closing one.
    if (c == '"') backslashes = backslashes * 2 + 1;
    quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

std::optional<std::string> buildWindowsCommandLine(const char* const* arguments) {
  const std::string_view program = arguments[0];
  if (program.find('"') != std::string_view::npos) return std::nullopt;
  std::string line = "\"" + std::string(program) + "\"";
  for (const char* const* argument = arguments + 1; *argument != nullptr; ++argument) {
    line += ' ';
    line += quoteWindowsArgument(*argument);
  }
  return line;
}

bool isBatchFile(std::string_view path) {
  return endsWithIgnoringCase(path, ".bat") || endsWithIgnoringCase(path, ".cmd");
}

std::variant<std::string, RefusedArgument> buildBatchCommandLine(std::string_view shell,
                                                                 std::string_view script,
                                                                 const char* const* arguments) {
  // cmd takes the text after /c, strips its first and last quote, and reads the rest as one
  // command: inside double quotes & | < > ^ are text, and with /v:off so is !. Only % expands
  // inside quotes, and no escape for it holds everywhere; and no spelling of a quote inside an
  // argument reads back under both runtime rules (the 2008 one reads "" inside quotes as a quote
  // and stays quoted, msvcrt.dll's leaves quoted mode) without exposing the rest to cmd. Such
  // arguments are refused.
  std::string line =
      "\"" + std::string(shell) + "\" /d /v:off /c \"\"" + std::string(script) + "\"";
  for (size_t i = 0; arguments[i] != nullptr; ++i) {
    const std::string_view argument = arguments[i];
    if (argument.find_first_of("%\"\r\n") != std::string_view::npos) {
      return RefusedArgument{i + 1};
    }
    // A program that reads %* takes the closing quote after n backslashes as n / 2 of them.
    const size_t last = argument.find_last_not_of('\\');
    const size_t backslashes = argument.size() - (last == std::string_view::npos ? 0 : last + 1);
    line += " \"";
    line += argument;
    line.append(backslashes, '\\');
    line += '"';
  }
  line += '"';
  return line;
}

std::optional<std::string> findWindowsProgram(
    std::string_view name, std::string_view pathVariable,
    const std::function<bool(const std::string&)>& exists,
    const std::function<bool(const std::string&)>& startsOnNetwork) {
  constexpr std::array<std::string_view, 4> kExtensions = {".com", ".exe", ".bat", ".cmd"};
  auto findIn = [&](const std::string& prefix) -> std::optional<std::string> {
    const std::string base = prefix + std::string(name);
    if (hasExtension(name)) {
      if (exists(base)) return base;
      return std::nullopt;
    }
    for (const std::string_view extension : kExtensions) {
      const std::string candidate = base + std::string(extension);
      if (exists(candidate)) return candidate;
    }
    return std::nullopt;
  };
  if (auto found = findIn("")) return found;
  if (name.find_first_of("\\/:") != std::string_view::npos) return std::nullopt;
  std::string entry;
  bool isQuoted = false;
  for (size_t at = 0; at <= pathVariable.size(); ++at) {
    const char c = at < pathVariable.size() ? pathVariable[at] : ';';
    if (c == '"') {
      isQuoted = !isQuoted;
    } else if (c != ';' || (isQuoted && at < pathVariable.size())) {
      entry += c;
    } else if (!entry.empty()) {
      if (entry.back() != '\\' && entry.back() != '/') entry += '\\';
      const bool isNetwork = entry.starts_with("\\\\") || entry.starts_with("//");
      if (auto found = findIn(entry); found && (!isNetwork || startsOnNetwork(*found))) {
        return found;
      }
      entry.clear();
    }
  }
  return std::nullopt;
}

bool isLeftToCompiler(unsigned long consoleEvent) {
  constexpr unsigned long kCtrlC = 0;
  constexpr unsigned long kCtrlBreak = 1;
  return consoleEvent == kCtrlC || consoleEvent == kCtrlBreak;
}

}  // namespace kvowrapper
