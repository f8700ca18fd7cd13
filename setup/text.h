// Text as the engine handles it: wide strings, compared as Windows compares
// names (case-insensitively), and stored in the registry as UTF-16LE.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace setup {

// Equal as names on Windows: ASCII letters in either case.
bool SameName(const std::wstring& a, const std::wstring& b);
// The text with its ASCII letters in lower case, to look a name up.
std::wstring Folded(std::wstring text);

// UTF-16LE code units of the text, with or without a terminating zero.
std::vector<std::uint8_t> Utf16Bytes(const std::wstring& text, bool terminated);
// The text of UTF-16LE bytes, up to the first zero; none when the bytes are
// not whole code units or hold an unpaired surrogate.
bool FromUtf16Bytes(const std::vector<std::uint8_t>& bytes, std::wstring* text);

std::wstring Decimal(std::uint64_t number);

}  // namespace setup
