#pragma once
// GIF pictures, decoded without the system's help, the same on every system:
// the LEDs show small GIF files, and asking Windows' picture objects for them
// costs a program start the whole of COM and the imaging libraries before the
// first window. Linux decodes them here too, so a file is the same picture,
// or the same fault, on both.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace platform::gif {

// A picture as a screen shows it: width x height pixels, row by row from the
// top, each 0xAARRGGBB with alpha 0 (transparent) or 0xFF. Transparent pixels
// are 0, so the pixels are also valid premultiplied ARGB.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
  bool transparent = false;  // whether any pixel has alpha 0
};

// The largest picture decoded (a picture of 64 MB of pixels); a GIF's header
// may claim far more than its few bytes hold.
inline constexpr long long kMostPixels = 16LL << 20;

// The largest file read as a picture; a larger one is no picture.
inline constexpr long long kMostFileBytes = 64LL << 20;

// What a decode cost: the LZW codes read and the pixels taken from the code
// table. Codes are bounded by the file's bytes and pixels by the screen's,
// whatever size the image block claims.
struct Work {
  long long codes = 0;
  long long pixels = 0;
};

// The first image of a GIF (87a or 89a) on its logical screen; what the image
// does not cover is transparent, and what lies off the screen is neither
// drawn nor decoded. Nothing when the bytes are not a GIF, when its header,
// colour tables or image descriptor are cut short, or when the screen is
// larger than kMostPixels. Image data that ends early or holds a code it
// cannot have leaves the pixels not yet reached transparent, as browsers show
// it. Adds what it did to *work when given.
std::optional<Image> decode(std::span<const unsigned char> bytes, Work* work = nullptr);

// The picture an image control shows for a file's bytes (empty for a file
// that cannot be read). Raises 481 "Invalid picture" for anything decode()
// refuses: the one place every system's image control gets that fault from.
Image picture(std::span<const unsigned char> bytes);

}  // namespace platform::gif
