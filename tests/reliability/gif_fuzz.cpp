// libFuzzer target for the GIF decoder the LEDs use. Whatever the bytes, it
// stays within its buffers (ASan/UBSan), ends quickly (libFuzzer's timeout),
// and what it returns is a whole picture no larger than its limit, made with
// no more pixels taken from the code table than the screen has.
#include "platform/portable/gif.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "GIF decoder broke its contract: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::gif::Work work;
  const auto image = platform::gif::decode(std::span<const unsigned char>(data, size), &work);
  if (work.codes > static_cast<long long>(size) * 4) fail("more codes than the bytes hold");  // codes of 2 bits at least
  if (!image) {
    if (work.pixels != 0) fail("pixels taken for a refused file");
    return 0;
  }
  const long long pixels = static_cast<long long>(image->width) * image->height;
  if (image->width <= 0 || image->height <= 0 || pixels > platform::gif::kMostPixels) fail("size out of range");
  if (static_cast<long long>(image->pixels.size()) != pixels) fail("pixels do not fill the picture");
  if (work.pixels > pixels) fail("more pixels taken than the screen has");
  bool transparent = false;
  for (const std::uint32_t p : image->pixels) {
    if ((p >> 24) != 0 && (p >> 24) != 0xFF) fail("alpha neither 0 nor 0xFF");
    if ((p >> 24) == 0 && p != 0) fail("transparent pixel not 0");
    transparent = transparent || (p >> 24) == 0;
  }
  if (transparent != image->transparent) fail("transparent flag wrong");
  return 0;
}
