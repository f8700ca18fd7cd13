#include "command_line.h"

#include <cwctype>
#include <vector>

#include "text.h"

namespace setup {
namespace {

constexpr std::size_t kLongestLine = 1023;

// The arguments of a command line, split at blanks outside quotes, quotes
// removed; the first is the program.
std::vector<std::wstring> Arguments(const std::wstring& line) {
  std::vector<std::wstring> arguments;
  std::wstring current;
  bool quoted = false;
  bool any = false;
  for (const wchar_t c : line) {
    if (c == L'"') {
      quoted = !quoted;
      any = true;
    } else if ((c == L' ' || c == L'\t') && !quoted) {
      if (any) {
        arguments.push_back(current);
      }
      current.clear();
      any = false;
    } else {
      current.push_back(c);
      any = true;
    }
  }
  if (any) {
    arguments.push_back(current);
  }
  return arguments;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() &&
         SameName(text.substr(0, prefix.size()), prefix);
}

// Splits off a folder switch that runs to the end of the line: " /D=..."
// unquoted, ' "/D=...' quoted, or " _?=...".
std::wstring SplitFolder(const std::wstring& line, Switches* switches) {
  const std::size_t plain = line.find(L" /D=");
  const std::size_t quoted = line.find(L" \"/D=");
  const std::size_t uninstall = line.find(L" _?=");
  if (uninstall != std::wstring::npos &&
      (plain == std::wstring::npos || uninstall < plain) &&
      (quoted == std::wstring::npos || uninstall < quoted)) {
    switches->uninstallFolder = line.substr(uninstall + 4);
    return line.substr(0, uninstall);
  }
  if (quoted != std::wstring::npos &&
      (plain == std::wstring::npos || quoted < plain)) {
    std::wstring folder = line.substr(quoted + 5);
    // The closing quote ends the command line; an unclosed one is kept,
    // which no folder can hold.
    if (!folder.empty() && folder.back() == L'"') {
      folder.pop_back();
    } else {
      folder.insert(folder.begin(), L'"');
    }
    switches->folder = folder;
    return line.substr(0, quoted);
  }
  if (plain != std::wstring::npos) {
    switches->folder = line.substr(plain + 4);
    return line.substr(0, plain);
  }
  return line;
}

// A number of up to nine digits, else 0.
unsigned long Number(const std::wstring& digits) {
  if (digits.empty() || digits.size() > 9) {
    return 0;
  }
  unsigned long value = 0;
  for (const wchar_t c : digits) {
    if (std::iswdigit(c) == 0) {
      return 0;
    }
    value = value * 10 + static_cast<unsigned long>(c - L'0');
  }
  return value;
}

}  // namespace

Switches ReadSwitches(const std::wstring& commandLine) {
  Switches switches;
  if (commandLine.size() > kLongestLine) {
    switches.tooLong = true;
    return switches;
  }
  const std::vector<std::wstring> arguments =
      Arguments(SplitFolder(commandLine, &switches));
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    if (SameName(argument, L"/AllUsers")) {
      switches.scope = L"all";
    } else if (SameName(argument, L"/CurrentUser") && switches.scope.empty()) {
      switches.scope = L"user";
    } else if (SameName(argument, L"/NOASSOCIATIONS")) {
      switches.noAssociations = true;
    } else if (SameName(argument, L"/DESKTOPSHORTCUT")) {
      switches.desktopShortcut = true;
    } else if (SameName(argument, L"/NOCRASHDUMPS")) {
      switches.noCrashDumps = true;
    } else if (StartsWith(argument, L"/ORIGINAL=")) {
      switches.original = Number(argument.substr(10));
    } else if (StartsWith(argument, L"/LANG=")) {
      switches.language = Number(argument.substr(6));
    }
  }
  return switches;
}

}  // namespace setup
