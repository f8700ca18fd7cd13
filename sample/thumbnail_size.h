// The size of a thumbnail: the picture scaled so that its longer side is at
// most `longest` pixels, aspect ratio kept, never enlarged.
#ifndef TOLVARIN_SAMPLE_THUMBNAIL_SIZE_H
#define TOLVARIN_SAMPLE_THUMBNAIL_SIZE_H

#include <cstdint>

struct PixelSize {
  std::uint32_t width;
  std::uint32_t height;
};

// Rounds the shorter side to the nearest pixel, and to at least one: a
// 10000 x 1 panorama still gives a picture.
constexpr PixelSize ThumbnailSize(PixelSize picture, std::uint32_t longest) {
  const std::uint64_t width = picture.width;
  const std::uint64_t height = picture.height;
  if (width <= longest && height <= longest) {
    return picture;
  }
  const auto scaled = [longest](std::uint64_t side, std::uint64_t longer) {
    const std::uint64_t rounded = (side * longest + longer / 2) / longer;
    return static_cast<std::uint32_t>(rounded == 0 ? 1 : rounded);
  };
  if (width >= height) {
    return {longest, scaled(height, width)};
  }
  return {scaled(width, height), longest};
}

#endif  // TOLVARIN_SAMPLE_THUMBNAIL_SIZE_H
