#include "thumbnail_size.h"

#include <gtest/gtest.h>

namespace {

struct Case {
  PixelSize picture;
  PixelSize expected;
};

TEST(ThumbnailSize, LongerSideBecomes256AspectKeptNeverEnlarged) {
  const Case cases[] = {
      {{320, 200}, {256, 160}},    // landscape
      {{200, 320}, {160, 256}},    // portrait
      {{1000, 1000}, {256, 256}},  // square
      {{257, 100}, {256, 100}},    // just over: 99.6 rounds to 100
      {{256, 256}, {256, 256}},    // the limit itself
      {{100, 50}, {100, 50}},      // smaller: kept
      {{1, 1}, {1, 1}},
      {{10000, 1}, {256, 1}},  // would round to 0
      {{1, 10000}, {1, 256}},
      {{6000, 4000}, {256, 171}},              // 170.67 rounds up
      {{0xFFFFFFFF, 0xFFFFFFFE}, {256, 256}},  // no overflow
  };
  for (const Case& c : cases) {
    const PixelSize got = ThumbnailSize(c.picture, 256);
    EXPECT_EQ(got.width, c.expected.width)
        << c.picture.width << " x " << c.picture.height;
    EXPECT_EQ(got.height, c.expected.height)
        << c.picture.width << " x " << c.picture.height;
  }
}

}  // namespace
