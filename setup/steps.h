// The steps a job is made of. Each Do changes one thing; each Undo puts it
// back as the job's record says it was, whether or not Do ran or finished,
// and may run again: after a kill the next run undoes every step of the
// record, from the last to the first.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "job.h"
#include "platform.h"
#include "record.h"

namespace setup {

struct Step {
  std::function<Outcome()> perform;
  std::function<bool()> undo;
};

// The steps of an install job; job is none when an interrupted one is
// undone, which needs only the record.
std::vector<Step> InstallSteps(Platform& platform, Root root,
                               const Record& record, const InstallJob* job);
std::vector<Step> UninstallSteps(Platform& platform, Root root,
                                 const Record& record);

// Paths of the installation and of the job's own folder in it.
std::wstring Join(const std::wstring& folder, const std::wstring& name);
std::wstring JournalOf(const std::wstring& folder);
std::wstring JournalFile(const std::wstring& folder, std::size_t number,
                         const wchar_t* suffix);
// The path of a name below the folder, when no part of it below the folder
// is a link or a junction.
std::optional<std::wstring> Inside(Platform& platform,
                                   const std::wstring& folder,
                                   const std::wstring& relative);
// The first of the installation's own names below the folder that is a link.
std::optional<std::wstring> LinkInside(Platform& platform,
                                       const std::wstring& folder);

// A file, value or key gone, or never there.
bool Gone(Status status);
// A folder or key removed, unless something else is in it.
bool Cleared(Status status);

Outcome Refusal(int code, const std::wstring& reason,
                const std::wstring& detail = {});
// The refusal for a file operation that failed.
Outcome FileFailure(Platform& platform, const std::wstring& path,
                    Status status);

}  // namespace setup
