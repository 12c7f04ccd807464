#include "platform/portable/gif.h"

#include "platform/fault.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string_view>
#include <utility>

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

constexpr unsigned kMostCodes = 4096;

// The LZW string table. Entry n is the string of entry up[0][n] followed by
// the colour last[n]; the first entries are single colours. up[j][n] is the
// entry 2^j colours shorter, so any beginning of a string is found in a dozen
// steps: a string of thousands of colours of which a few land on the screen
// costs those few.
struct Table {
  static constexpr unsigned kLevels = 12;  // strings are shorter than 4096
  std::array<std::uint16_t, kMostCodes> length{};
  std::array<std::uint8_t, kMostCodes> first{}, last{};
  std::array<std::array<std::uint16_t, kMostCodes>, kLevels> up{};

  void start(unsigned colours) {
    for (unsigned c = 0; c < colours; ++c) {
      length[c] = 1;
      first[c] = last[c] = static_cast<std::uint8_t>(c);
      for (auto& level : up) level[c] = static_cast<std::uint16_t>(c);
    }
  }
  void add(unsigned n, unsigned prefix, unsigned colour) {
    length[n] = static_cast<std::uint16_t>(length[prefix] + 1);
    first[n] = first[prefix];
    last[n] = static_cast<std::uint8_t>(colour);
    up[0][n] = static_cast<std::uint16_t>(prefix);
    for (unsigned j = 1; j < kLevels; ++j) up[j][n] = up[j - 1][up[j - 1][n]];
  }
  // The entry holding the first `count` colours of entry n.
  // REQUIRES: 1 <= count <= length[n].
  unsigned beginning(unsigned n, unsigned count) const {
    for (unsigned j = 0, steps = length[n] - count; steps != 0; ++j, steps >>= 1) {
      if (steps & 1) n = up[j][n];
    }
    return n;
  }
};

// LZW as GIF uses it: codes of 3 to 12 bits, least significant bit first,
// growing by a bit when the table fills the current width. Calls show(code)
// for each code's string in order, until it returns false or the data ends.
template <typename Show>
void unpack(const std::vector<unsigned char>& data, unsigned minimum, Table& table, Work& work, Show show) {
  const unsigned clear = 1u << minimum, end = clear + 1;
  table.start(clear);

  unsigned width = minimum + 1, next = clear + 2, previous = kMostCodes;
  std::uint32_t bits = 0;
  unsigned held = 0;
  size_t at = 0;
  for (;;) {
    while (held < width && at < data.size()) bits |= std::uint32_t{data[at++]} << held, held += 8;
    if (held < width) return;
    const unsigned code = bits & ((1u << width) - 1);
    bits >>= width;
    held -= width;
    ++work.codes;

    if (code == clear) {
      width = minimum + 1, next = clear + 2, previous = kMostCodes;
      continue;
    }
    if (code == end) return;
    if (previous == kMostCodes) {  // the first code after a clear is a single colour
      if (code >= clear || !show(code)) return;
      previous = code;
      continue;
    }
    if (code > next || (code == next && next >= kMostCodes)) return;  // not a code this data can have
    if (next < kMostCodes) {  // the previous string and the first colour of this one
      table.add(next, previous, table.first[code < next ? code : previous]);
      ++next;
      if (next == (1u << width) && width < 12) ++width;
    }
    if (!show(code)) return;
    previous = code;
  }
}

}  // namespace

std::optional<Image> decode(std::span<const unsigned char> bytes, Work* work) {
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
  const auto screenW = static_cast<unsigned>(picture.width), screenH = static_cast<unsigned>(picture.height);
  picture.pixels.assign(size_t{screenW} * screenH, 0);

  // Only the part of the image block on the screen is drawn, and decoding
  // stops after its last pixel: a block that claims 65535 x 65535 pixels
  // costs what the screen shows, not what the block claims.
  const unsigned shownWidth = left < screenW ? std::min(width, screenW - left) : 0;
  const unsigned shownHeight = top < screenH ? std::min(height, screenH - top) : 0;

  // The block's pixels come as one stream of rows in the order stored. Rows
  // of an interlaced image come in four passes: every eighth from 0, every
  // eighth from 4, every fourth from 2, every second from 1. Each pass's
  // rows on the screen are the first ones it stores: a band of stored rows.
  struct Band {
    std::uint64_t row = 0, rows = 0;  // stored rows [row, row + rows)
    std::uint64_t begin = 0, end = 0;  // the same as stream positions
    unsigned y = 0, step = 1;          // land on block rows y, y + step, ...
  };
  constexpr unsigned kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
  const bool interlaced = (packed & 0x40) != 0;
  std::array<Band, 4> bands{};
  std::uint64_t stored = 0, stopAt = 0;  // stopAt: the stream position after the last pixel shown
  for (unsigned pass = 0; pass < (interlaced ? 4u : 1u); ++pass) {
    const unsigned y = interlaced ? kStart[pass] : 0, step = interlaced ? kStep[pass] : 1;
    const auto rowsOf = [&](unsigned rows) { return rows > y ? (rows - y + step - 1) / step : 0u; };
    const std::uint64_t rows = rowsOf(shownHeight);
    bands[pass] = Band{stored, rows, stored * width, (stored + rows) * width, y, step};
    if (rows > 0 && shownWidth > 0) stopAt = std::max(stopAt, (stored + rows - 1) * width + shownWidth);
    stored += rowsOf(height);
  }

  Work spent;
  const auto table = std::make_unique<Table>();
  // Colours [from, to) of entry code's string, at screen row y from column x.
  const auto paint = [&](unsigned code, unsigned from, unsigned to, unsigned x, unsigned y) {
    std::uint32_t* out = picture.pixels.data() + size_t{y} * screenW + x + (to - from);
    for (unsigned n = table->beginning(code, to), i = from; i < to; ++i, n = table->up[0][n]) {
      --out;
      const unsigned index = table->last[n];
      if (static_cast<int>(index) != transparentIndex)
        *out = index < colours.size() ? colours[index] : 0xFF000000u;
    }
    spent.pixels += to - from;
  };
  std::uint64_t at = 0;      // stream position of the next code's string
  std::uint64_t skipTo = 0;  // a string that ends by here shows nothing
  const auto show = [&](unsigned code) {
    const std::uint64_t from = at, to = at + table->length[code];
    at = to;
    if (to <= skipTo) return true;
    for (const Band& band : bands) {
      if (to <= band.begin || from >= band.end) continue;
      const std::uint64_t firstRow = std::max(band.row, from / width);
      const std::uint64_t endRow = std::min(band.row + band.rows, (to - 1) / width + 1);
      for (std::uint64_t row = firstRow; row < endRow; ++row) {
        const std::uint64_t rowAt = row * width;
        const std::uint64_t c0 = from > rowAt ? from - rowAt : 0;
        const std::uint64_t c1 = std::min<std::uint64_t>(to - rowAt, shownWidth);
        if (c0 < c1)
          paint(code, static_cast<unsigned>(rowAt + c0 - from), static_cast<unsigned>(rowAt + c1 - from),
                left + static_cast<unsigned>(c0), top + band.y + static_cast<unsigned>(row - band.row) * band.step);
      }
    }
    skipTo = stopAt;
    for (const Band& band : bands) {
      if (band.end > at) {
        skipTo = std::max(at, band.begin);
        break;
      }
    }
    return at < stopAt;
  };
  if (stopAt > 0) unpack(joinBlocks(in), minimum, *table, spent, show);
  if (work) work->codes += spent.codes, work->pixels += spent.pixels;

  for (const std::uint32_t pixel : picture.pixels) {
    if ((pixel >> 24) == 0) {
      picture.transparent = true;
      break;
    }
  }
  return picture;
}

Image picture(std::span<const unsigned char> bytes) {
  std::optional<Image> image = decode(bytes);
  if (!image) raise(faults::kInvalidPicture, "Invalid picture");
  return std::move(*image);
}

}  // namespace platform::gif
