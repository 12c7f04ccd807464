#include "platform/portable/gif.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace platform::gif {

namespace {

// Reads bytes front to back; any read past the end marks the reader short.
struct Reader {
  std::span<const unsigned char> bytes;
  size_t at = 0;
  bool shortOf = false;

  unsigned byte() {
    if (at >= bytes.size()) {
      shortOf = true;
      return 0;
    }
    return bytes[at++];
  }
  unsigned word() {  // little-endian
    const unsigned low = byte();
    return low | byte() << 8;
  }
  void skip(size_t n) {
    if (bytes.size() - at < n) shortOf = true, at = bytes.size();
    else at += n;
  }
  // A run of sub-blocks up to and including its empty block.
  void skipBlocks() {
    for (unsigned n = byte(); n != 0 && !shortOf; n = byte()) skip(n);
  }
};

using Palette = std::vector<std::uint32_t>;

Palette readPalette(Reader& in, unsigned packed) {
  Palette colours(size_t{2} << (packed & 7));
  for (std::uint32_t& c : colours) {
    const unsigned r = in.byte(), g = in.byte(), b = in.byte();
    c = 0xFF000000u | r << 16 | g << 8 | b;
  }
  return colours;
}

// The image data's sub-blocks joined; what a short file holds of them.
std::vector<unsigned char> joinBlocks(Reader& in) {
  std::vector<unsigned char> data;
  for (unsigned n = in.byte(); n != 0 && !in.shortOf; n = in.byte()) {
    const size_t take = std::min<size_t>(n, in.bytes.size() - in.at);
    data.insert(data.end(), in.bytes.begin() + static_cast<long>(in.at),
                in.bytes.begin() + static_cast<long>(in.at + take));
    in.skip(n);
  }
  return data;
}

// LZW as GIF uses it: codes of 3 to 12 bits, least significant bit first,
// growing by a bit when the table fills the current width. Calls put(index)
// for each colour index in order, until it returns false or the data ends.
template <typename Put>
void unpack(const std::vector<unsigned char>& data, unsigned minimum, Put put) {
  constexpr unsigned kMost = 4096;
  std::array<std::uint16_t, kMost> prefix{};
  std::array<std::uint8_t, kMost> suffix{};
  std::array<std::uint8_t, kMost> first{};
  std::array<std::uint8_t, kMost> stack{};
  const unsigned clear = 1u << minimum, end = clear + 1;
  for (unsigned c = 0; c < clear; ++c) suffix[c] = first[c] = static_cast<std::uint8_t>(c);

  unsigned width = minimum + 1, next = clear + 2, previous = kMost;
  std::uint32_t bits = 0;
  unsigned held = 0;
  size_t at = 0;
  for (;;) {
    while (held < width && at < data.size()) bits |= std::uint32_t{data[at++]} << held, held += 8;
    if (held < width) return;
    const unsigned code = bits & ((1u << width) - 1);
    bits >>= width;
    held -= width;

    if (code == clear) {
      width = minimum + 1, next = clear + 2, previous = kMost;
      continue;
    }
    if (code == end) return;
    if (previous == kMost) {  // the first code after a clear is a single colour
      if (code >= clear) return;
      if (!put(code)) return;
      previous = code;
      continue;
    }
    if (code > next || (code == next && next >= kMost)) return;  // not a code this data can have
    if (next < kMost) {  // the previous string and the first colour of this one
      prefix[next] = static_cast<std::uint16_t>(previous);
      suffix[next] = code < next ? first[code] : first[previous];
      first[next] = first[previous];
      ++next;
      if (next == (1u << width) && width < 12) ++width;
    }
    unsigned depth = 0;
    unsigned c = code;
    for (; c >= clear; c = prefix[c]) stack[depth++] = suffix[c];
    stack[depth++] = static_cast<std::uint8_t>(c);
    while (depth > 0) {
      if (!put(stack[--depth])) return;
    }
    previous = code;
  }
}

}  // namespace

std::optional<Image> decode(std::span<const unsigned char> bytes) {
  const auto is = [&](std::string_view signature) {
    return bytes.size() >= signature.size() && std::equal(signature.begin(), signature.end(), bytes.begin());
  };
  if (!is("GIF87a") && !is("GIF89a")) return std::nullopt;
  Reader in{bytes, 6};

  // The logical screen and its colours.
  const unsigned screenWidth = in.word(), screenHeight = in.word(), screenPacked = in.byte();
  in.skip(2);  // background colour, aspect ratio
  Palette global;
  if (screenPacked & 0x80) global = readPalette(in, screenPacked);
  if (in.shortOf) return std::nullopt;

  // Extensions up to the first image; only the transparent colour matters.
  int transparentIndex = -1;
  for (;;) {
    const unsigned kind = in.byte();
    if (in.shortOf || kind == 0x3B) return std::nullopt;  // no image at all
    if (kind == 0x2C) break;
    if (kind != 0x21) return std::nullopt;
    const unsigned label = in.byte();
    if (label == 0xF9) {
      const unsigned size = in.byte();
      if (size >= 4) {
        const unsigned packed = in.byte();
        in.skip(2);  // delay
        const unsigned index = in.byte();
        transparentIndex = (packed & 1) ? static_cast<int>(index) : -1;
        in.skip(size - 4);
      } else {
        in.skip(size);
      }
    }
    in.skipBlocks();
  }

  const unsigned left = in.word(), top = in.word(), width = in.word(), height = in.word();
  const unsigned packed = in.byte();
  const Palette local = (packed & 0x80) ? readPalette(in, packed) : Palette();
  const unsigned minimum = in.byte();
  if (in.shortOf || minimum < 1 || minimum > 8) return std::nullopt;
  const Palette& colours = (packed & 0x80) ? local : global;

  // A screen of nought takes the image's own extent, as browsers do.
  Image picture;
  picture.width = static_cast<int>(screenWidth ? screenWidth : left + width);
  picture.height = static_cast<int>(screenHeight ? screenHeight : top + height);
  if (picture.width == 0 || picture.height == 0 ||
      static_cast<long long>(picture.width) * picture.height > kMostPixels)
    return std::nullopt;
  picture.pixels.assign(static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height), 0);

  // Rows of an interlaced image come in four passes: every eighth from 0,
  // every eighth from 4, every fourth from 2, every second from 1.
  constexpr unsigned kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
  const bool interlaced = (packed & 0x40) != 0;
  unsigned pass = 0, row = 0, column = 0;
  const auto put = [&](unsigned index) {
    if (row >= height) return false;
    const unsigned x = left + column, y = top + row;
    if (x < static_cast<unsigned>(picture.width) && y < static_cast<unsigned>(picture.height) &&
        static_cast<int>(index) != transparentIndex)
      picture.pixels[size_t{y} * static_cast<unsigned>(picture.width) + x] =
          index < colours.size() ? colours[index] : 0xFF000000u;
    if (++column < width) return true;
    column = 0;
    if (!interlaced) return ++row < height;
    row += kStep[pass];
    while (row >= height && ++pass < 4) row = kStart[pass];
    return row < height;
  };
  if (width > 0 && height > 0) unpack(joinBlocks(in), minimum, put);

  for (const std::uint32_t pixel : picture.pixels) {
    if ((pixel >> 24) == 0) {
      picture.transparent = true;
      break;
    }
  }
  return picture;
}

}  // namespace platform::gif
