// Thumbnails through the Windows Imaging Component, a COM server: call only
// on a thread that is inside a COM apartment.
#ifndef TOLVARIN_SAMPLE_THUMBNAIL_H
#define TOLVARIN_SAMPLE_THUMBNAIL_H

#include <cstdint>
#include <string>

#include "thumbnail_size.h"

constexpr std::uint32_t kThumbnailSide = 256;

struct ThumbnailResult {
  bool ok;
  PixelSize picture;    // when ok
  PixelSize thumbnail;  // when ok
  std::wstring error;   // when not ok: what went wrong, for a person
};

// Decodes the picture (any format WIC reads) and writes a JPEG thumbnail of
// it, at most kThumbnailSide pixels on its longer side. The thumbnail is
// written beside its target under a temporary name and renamed at the end:
// on any failure there is no file at the target and none beside it.
ThumbnailResult MakeThumbnail(const std::wstring& picture,
                              const std::wstring& thumbnail);

#endif  // TOLVARIN_SAMPLE_THUMBNAIL_H
