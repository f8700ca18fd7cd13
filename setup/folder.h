// The installation folder. However it is spelled, on the command line, on the
// folder page or in the registry, it is made canonical the way Windows reads
// a path (full, "/" read as "\", doubled backslashes, "." and ".." resolved,
// trailing dots and blanks dropped, short names made long), and only that
// form is checked, installed into and registered.
#pragma once

#include <string>

#include "platform.h"

namespace setup {

enum class FolderProblem {
  kNone,
  kNotFullPath,  // not a full path of a drive or share, or a character no
                 // folder name can have
  kRoot,         // the root of a drive or share
  kNoDrive,      // the drive or share is not there
  kBadName,      // a name ends with a blank or a dot
  kDevice,       // a name is a device's
  kFile,         // the folder, or a folder above it, is a file
  kTooLong,      // the files in it would pass 259 characters
};

struct FolderCheck {
  std::wstring folder;  // canonical; empty when it cannot be made so
  FolderProblem problem = FolderProblem::kNone;
  std::wstring detail;  // the name, path or number the problem concerns
};

// The root of a canonical path: "C:" or "\\server\share".
std::wstring PathRoot(const std::wstring& path);

// What is wrong with a canonical folder as text alone; changes and asks
// nothing. Also the check of every folder read back from the setup journal.
FolderCheck CheckCanonicalText(const std::wstring& folder);

// The folder as Windows reads the spelling, and what is wrong with it there.
FolderCheck CheckFolder(const std::wstring& spelling, Platform& platform);

// The longest folder the installation fits into.
std::size_t LongestFolder();

}  // namespace setup
