#include "text.h"

#include <algorithm>
#include <type_traits>

namespace setup {
namespace {

wchar_t Fold(wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; }

constexpr std::uint32_t kSurrogateFirst = 0xD800;
constexpr std::uint32_t kLowSurrogate = 0xDC00;
constexpr std::uint32_t kSurrogateEnd = 0xE000;
constexpr std::uint32_t kPlaneSize = 0x10000;

void PutUnit(std::vector<std::uint8_t>* bytes, std::uint32_t unit) {
  bytes->push_back(static_cast<std::uint8_t>(unit & 0xFFU));
  bytes->push_back(static_cast<std::uint8_t>((unit >> 8U) & 0xFFU));
}

// A character beyond the first plane, from its surrogates.
void AppendPair(std::uint32_t high, std::uint32_t low, std::wstring* text) {
  if constexpr (sizeof(wchar_t) > 2) {
    text->push_back(static_cast<wchar_t>(kPlaneSize +
                                         ((high - kSurrogateFirst) << 10U) +
                                         (low - kLowSurrogate)));
  } else {
    text->push_back(static_cast<wchar_t>(high));
    text->push_back(static_cast<wchar_t>(low));
  }
}

}  // namespace

bool SameName(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) {
      return false;
    }
  }
  return true;
}

std::wstring Folded(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(), Fold);
  return text;
}

std::vector<std::uint8_t> Utf16Bytes(const std::wstring& text,
                                     bool terminated) {
  std::vector<std::uint8_t> bytes;
  for (const wchar_t c : text) {
    const auto code = static_cast<std::uint32_t>(
        static_cast<std::make_unsigned_t<wchar_t>>(c));
    if (sizeof(wchar_t) > 2 && code >= kPlaneSize) {
      const std::uint32_t above = code - kPlaneSize;
      PutUnit(&bytes, kSurrogateFirst + (above >> 10U));
      PutUnit(&bytes, kLowSurrogate + (above & 0x3FFU));
    } else {
      PutUnit(&bytes, code);
    }
  }
  if (terminated) {
    PutUnit(&bytes, 0);
  }
  return bytes;
}

bool FromUtf16Bytes(const std::vector<std::uint8_t>& bytes,
                    std::wstring* text) {
  text->clear();
  if (bytes.size() % 2 != 0) {
    return false;
  }
  std::vector<std::uint32_t> units;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const std::uint32_t unit = bytes[i] | (bytes[i + 1] << 8U);
    if (unit == 0) {
      break;
    }
    units.push_back(unit);
  }
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::uint32_t unit = units[i];
    if (unit < kSurrogateFirst || unit >= kSurrogateEnd) {
      text->push_back(static_cast<wchar_t>(unit));
      continue;
    }
    // A high surrogate followed by a low one.
    if (unit >= kLowSurrogate || i + 1 == units.size() ||
        units[i + 1] < kLowSurrogate || units[i + 1] >= kSurrogateEnd) {
      return false;
    }
    AppendPair(unit, units[++i], text);
  }
  return true;
}

std::wstring Decimal(std::uint64_t number) {
  std::wstring digits;
  do {
    digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + number % 10));
    number /= 10;
  } while (number != 0);
  return digits;
}

}  // namespace setup
