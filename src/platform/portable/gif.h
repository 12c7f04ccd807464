#pragma once
// GIF pictures, decoded without the system's help: the LEDs show small GIF
// files, and asking Windows' picture objects for them costs a program start
// the whole of COM and the imaging libraries before the first window.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace platform::gif {

// A picture as a screen shows it: width x height pixels, row by row from the
// top, each 0xAARRGGBB with alpha 0 (transparent) or 0xFF.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
  bool transparent = false;  // whether any pixel has alpha 0
};

// The largest picture decoded (a picture of 64 MB of pixels); a GIF's header
// may claim far more than its few bytes hold.
inline constexpr long long kMostPixels = 16LL << 20;

// The first image of a GIF (87a or 89a) on its logical screen; what the image
// does not cover is transparent. Nothing when the bytes are not a GIF, when its
// header, colour tables or image descriptor are cut short, or when it is larger
// than kMostPixels. Image data that ends early or holds a code it cannot have
// leaves the pixels not yet reached transparent, as browsers show it.
std::optional<Image> decode(std::span<const unsigned char> bytes);

}  // namespace platform::gif
