// The GIF decoder the Windows LEDs use, against files made to order: every
// LZW path (growing codes, a full table with and without a clear code, codes
// naming the entry being made), interlaced rows, local colours, transparency,
// a frame smaller than the screen; and what it must refuse or survive. Built
// for Linux and, with mingw-w64, for Windows (run under Wine).

#include "platform/portable/gif.h"
#include "support/gif_maker.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using testing_gif::Design;

std::vector<std::uint32_t> greys(unsigned n) {
  std::vector<std::uint32_t> v(n);
  for (unsigned i = 0; i < n; ++i) v[i] = (i * 0x010101u) ^ 0x804020u;
  return v;
}

Design noiseDesign(bool clearWhenFull) {
  Design s;
  s.screenWidth = s.width = 97;
  s.screenHeight = s.height = 61;
  s.global = greys(256);
  s.indices = testing_gif::noise(97 * 61, 256);
  s.clearWhenFull = clearWhenFull;
  return s;
}

Design framedDesign() {
  Design s;
  s.screenWidth = 16, s.screenHeight = 20, s.global = {0xFF0000, 0x00FF00};
  s.left = 3, s.top = 2, s.width = 9, s.height = 13;
  s.local = {0x102030, 0x405060, 0x708090, 0xA0B0C0};
  s.interlaced = true, s.transparent = 2;
  s.indices = testing_gif::noise(9 * 13, 4);
  s.minimum = 2;
  return s;
}

struct Case {
  std::string name;
  std::vector<unsigned char> bytes;
  std::vector<std::uint32_t> want;  // the screen's pixels
  bool transparent;
};

Case fromDesign(std::string name, const Design& design) {
  return {std::move(name), testing_gif::make(design), testing_gif::expected(design),
          design.transparent >= 0 || design.left > 0};
}

// 16 x 16 of the run's colour: however many pixels the block claims, the
// decoder takes no more from its table than the screen shows.
Case endless(std::string name, bool interlaced) {
  return {std::move(name), testing_gif::endlessRun(1 << 20, interlaced),
          std::vector<std::uint32_t>(16 * 16, 0xFF00FF00u), false};
}

std::vector<Case> cases() {
  Design run;
  run.screenWidth = run.screenHeight = run.width = run.height = 40;
  run.global = {0, 0xFFFFFF};
  run.indices.assign(1600, 1);
  run.minimum = 2;
  Design unsized = framedDesign();
  unsized.screenWidth = unsized.screenHeight = 0;
  unsized.interlaced = false;
  Design hanging = noiseDesign(true);  // runs that cross the screen's edge
  hanging.screenWidth = 64, hanging.screenHeight = 48, hanging.left = 20, hanging.top = 30;
  hanging.interlaced = true;
  return {fromDesign("FullTableKeptToTheEnd", noiseDesign(false)),
          fromDesign("FullTableCleared", noiseDesign(true)),
          fromDesign("OneColourRunNamesTheEntryBeingMade", run),
          fromDesign("InterlacedLocalColoursTransparentFrame", framedDesign()),
          fromDesign("ScreenOfNoughtTakesTheImage", unsized),
          fromDesign("BlockHangingOffTheScreenIsCut", hanging),
          endless("BlockOfBillionsOnSmallScreen", false),
          endless("InterlacedBlockOfBillionsOnSmallScreen", true)};
}

TEST(Gif, DecodesWhatViewersShow) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    platform::gif::Work work;
    const auto image = platform::gif::decode(c.bytes, &work);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width * image->height, static_cast<int>(c.want.size()));
    EXPECT_EQ(image->pixels, c.want);
    EXPECT_EQ(image->transparent, c.transparent);
    EXPECT_LE(work.pixels, static_cast<long long>(c.want.size()));
    EXPECT_LE(work.codes, static_cast<long long>(c.bytes.size()) * 8 / 3);
  }
}

TEST(Gif, RefusesWhatIsNoPicture) {
  const auto good = testing_gif::make(framedDesign());
  const auto refused = [](std::vector<unsigned char> bytes) { return !platform::gif::decode(bytes); };
  EXPECT_TRUE(refused({'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e', '\n'}));
  EXPECT_TRUE(refused({}));
  // Cut anywhere before the image data: no image to show.
  const size_t dataStarts = 13 + 3 * 2 + 8 + 10 + 3 * 4 + 1;
  for (size_t n = 0; n < dataStarts; ++n) EXPECT_TRUE(refused({good.begin(), good.begin() + static_cast<long>(n)})) << n;
  // A trailer and no image.
  EXPECT_TRUE(refused({'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B}));
  // A header that claims 65535 x 65535 pixels in a few bytes.
  auto huge = good;
  huge[6] = huge[7] = huge[8] = huge[9] = 0xFF;
  EXPECT_TRUE(refused(huge));
  // LZW codes wider than a GIF has.
  auto wide = good;
  wide[dataStarts - 1] = 12;
  EXPECT_TRUE(refused(wide));
}

// Image data cut short shows what it holds; the rest stays transparent.
TEST(Gif, ShortImageDataShowsItsFirstRows) {
  const Design design = noiseDesign(false);
  const auto whole = testing_gif::make(design);
  const std::vector<unsigned char> cut(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2));
  const auto image = platform::gif::decode(cut);
  ASSERT_TRUE(image);
  const auto want = testing_gif::expected(design);
  EXPECT_TRUE(std::equal(want.begin(), want.begin() + design.width, image->pixels.begin()));
  EXPECT_EQ(image->pixels.back(), 0u);
  EXPECT_TRUE(image->transparent);
}

// Whatever a damaged file holds, decoding stays within its buffers (the
// sanitizer build checks every access).
TEST(Gif, SurvivesEveryDamagedByte) {
  for (const Design& design : {framedDesign(), noiseDesign(true)}) {
    const auto good = testing_gif::make(design);
    const size_t last = std::min<size_t>(good.size(), 400);
    for (size_t at = 6; at < last; ++at) {
      for (const int value : {0x00, 0x01, 0x7F, 0xFF}) {
        auto bad = good;
        bad[at] = static_cast<unsigned char>(value);
        (void)platform::gif::decode(bad);
      }
    }
  }
}

}  // namespace
