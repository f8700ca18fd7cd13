// Writes the access control lists of files and folders as one JSON object,
// {path: SDDL text}, null for a path whose list cannot be read.
//   sddl.exe <output file> <path> [<path> ...]
// Exits 201 when it cannot write the output.
#include <windows.h>
// windows.h first: the others rely on its types.
#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "record.h"

namespace {

std::string AccessList(const wchar_t* path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, nullptr, nullptr,
                            &descriptor) != ERROR_SUCCESS) {
    return "null";
  }
  wchar_t* text = nullptr;
  std::string json = "null";
  if (ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
          nullptr) != FALSE) {
    json = probe::Json(text);
    LocalFree(text);
  }
  LocalFree(descriptor);
  return json;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::string out = "{";
  for (int i = 2; i < argc; ++i) {
    out +=
        (i > 2 ? "," : "") + probe::Json(argv[i]) + ":" + AccessList(argv[i]);
  }
  return argc >= 2 && probe::Write(argv[1], out + "}\n") ? 0 : 201;
}
