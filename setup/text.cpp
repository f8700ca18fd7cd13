#include "text.h"

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

std::vector<std::uint8_t> Utf16Bytes(const std::wstring& text,
                                     bool terminated) {
  std::vector<std::uint8_t> bytes;
  for (const wchar_t c : text) {
    const auto code = static_cast<std::uint32_t>(c);
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
  std::uint32_t high = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const std::uint32_t unit = bytes[i] | (bytes[i + 1] << 8U);
    if (unit == 0) {
      break;
    }
    const bool isHigh = unit >= kSurrogateFirst && unit < kLowSurrogate;
    const bool isLow = unit >= kLowSurrogate && unit < kSurrogateEnd;
    if (high != 0) {
      if (!isLow) {
        return false;
      }
      if constexpr (sizeof(wchar_t) > 2) {
        text->push_back(static_cast<wchar_t>(
            kPlaneSize + ((high - kSurrogateFirst) << 10U) +
            (unit - kLowSurrogate)));
      } else {
        text->push_back(static_cast<wchar_t>(high));
        text->push_back(static_cast<wchar_t>(unit));
      }
      high = 0;
    } else if (isHigh) {
      high = unit;
    } else if (isLow) {
      return false;
    } else {
      text->push_back(static_cast<wchar_t>(unit));
    }
  }
  return high == 0;
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
