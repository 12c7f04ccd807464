#pragma once
// GIF files made to order for the picture tests, with an LZW coder of the
// usual shape (codes growing to 12 bits, optionally a clear code when the
// table is full), and the pixels a viewer should show for them.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace testing_gif {

struct Design {
  int screenWidth = 0, screenHeight = 0;
  std::vector<std::uint32_t> global;  // 0xRRGGBB, 2 to 256 of them (a power of two)
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<std::uint32_t> local;   // empty: the global colours
  bool interlaced = false;
  int transparent = -1;
  std::vector<std::uint8_t> indices;  // width x height, top row first
  unsigned minimum = 8;               // LZW minimum code size
  bool clearWhenFull = false;
};

inline unsigned tableBits(std::size_t colours) {
  unsigned bits = 0;
  while ((std::size_t{2} << bits) < colours) ++bits;
  return bits;
}

// The image data as sub-blocks of at most 255 bytes, the empty block and the
// trailer after `out`.
inline std::vector<unsigned char> endImage(std::vector<unsigned char> out, const std::vector<unsigned char>& data) {
  for (std::size_t at = 0; at < data.size(); at += 255) {
    const std::size_t n = std::min<std::size_t>(255, data.size() - at);
    out.push_back(static_cast<unsigned char>(n));
    out.insert(out.end(), data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
  }
  out.insert(out.end(), {0, 0x3B});
  return out;
}

inline std::vector<unsigned char> make(const Design& s) {
  std::vector<unsigned char> out{'G', 'I', 'F', '8', '9', 'a'};
  const auto word = [&](int v) {
    out.push_back(static_cast<unsigned char>(v & 0xFF));
    out.push_back(static_cast<unsigned char>(v >> 8 & 0xFF));
  };
  const auto colours = [&](const std::vector<std::uint32_t>& table) {
    for (std::size_t i = 0; i < (std::size_t{2} << tableBits(table.size())); ++i) {
      const std::uint32_t c = i < table.size() ? table[i] : 0;
      out.insert(out.end(), {static_cast<unsigned char>(c >> 16), static_cast<unsigned char>(c >> 8),
                             static_cast<unsigned char>(c)});
    }
  };
  word(s.screenWidth);
  word(s.screenHeight);
  out.push_back(static_cast<unsigned char>(s.global.empty() ? 0 : 0x80 | tableBits(s.global.size())));
  out.insert(out.end(), {0, 0});
  if (!s.global.empty()) colours(s.global);
  if (s.transparent >= 0)
    out.insert(out.end(), {0x21, 0xF9, 4, 1, 0, 0, static_cast<unsigned char>(s.transparent), 0});
  out.push_back(0x2C);
  word(s.left);
  word(s.top);
  word(s.width);
  word(s.height);
  out.push_back(static_cast<unsigned char>((s.local.empty() ? 0 : 0x80 | tableBits(s.local.size())) |
                                           (s.interlaced ? 0x40 : 0)));
  if (!s.local.empty()) colours(s.local);
  out.push_back(static_cast<unsigned char>(s.minimum));

  // The rows in the order they are stored.
  std::vector<std::uint8_t> stream;
  const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < (s.interlaced ? 4 : 1); ++pass) {
    for (int y = s.interlaced ? starts[pass] : 0; y < s.height; y += s.interlaced ? steps[pass] : 1) {
      stream.insert(stream.end(), s.indices.begin() + y * s.width, s.indices.begin() + (y + 1) * s.width);
    }
  }

  std::vector<unsigned char> data;
  std::uint32_t bits = 0;
  unsigned held = 0;
  const auto put = [&](unsigned code, unsigned width) {
    bits |= code << held;
    for (held += width; held >= 8; held -= 8, bits >>= 8) data.push_back(static_cast<unsigned char>(bits));
  };
  const unsigned clear = 1u << s.minimum;
  unsigned next = clear + 2, width = s.minimum + 1;
  std::map<std::uint32_t, unsigned> table;
  put(clear, width);
  if (!stream.empty()) {
    unsigned current = stream[0];
    for (std::size_t i = 1; i < stream.size(); ++i) {
      const std::uint32_t key = current << 8 | stream[i];
      if (const auto found = table.find(key); found != table.end()) {
        current = found->second;
        continue;
      }
      put(current, width);
      if (next < 4096) {
        table[key] = next++;
        if (next > (1u << width) && width < 12) ++width;
      } else if (s.clearWhenFull) {
        put(clear, width);
        table.clear();
        next = clear + 2;
        width = s.minimum + 1;
      }
      current = stream[i];
    }
    put(current, width);
  }
  put(clear + 1, width);
  if (held > 0) data.push_back(static_cast<unsigned char>(bits));
  return endImage(std::move(out), data);
}

// 0xAARRGGBB over the screen, the image's transparent colour and what the
// image does not cover as 0.
inline std::vector<std::uint32_t> expected(const Design& s) {
  const int w = s.screenWidth ? s.screenWidth : s.left + s.width;
  const int h = s.screenHeight ? s.screenHeight : s.top + s.height;
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(w * h), 0);
  const auto& table = s.local.empty() ? s.global : s.local;
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) {
      const int index = s.indices[static_cast<std::size_t>(y * s.width + x)];
      if (index == s.transparent || s.left + x >= w || s.top + y >= h) continue;
      pixels[static_cast<std::size_t>((s.top + y) * w + s.left + x)] = 0xFF000000u | table[static_cast<std::size_t>(index)];
    }
  }
  return pixels;
}

// A file of about `size` bytes whose image block claims 65535 x 65535 pixels
// on a 16 x 16 screen: its LZW data builds a run of colour 1 one pixel longer
// with each code up to 4091 pixels, then names that run again and again, so a
// megabyte holds billions of pixels. Shown, it is 16 x 16 pixels of colour 1
// (0x00FF00).
inline std::vector<unsigned char> endlessRun(std::size_t size, bool interlaced) {
  std::vector<unsigned char> out{'G', 'I', 'F', '8', '9', 'a', 16, 0, 16, 0, 0x81, 0, 0};
  out.insert(out.end(), {0, 0, 0, 0, 0xFF, 0, 0xFF, 0, 0, 0, 0, 0xFF});
  out.insert(out.end(), {0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, static_cast<unsigned char>(interlaced ? 0x40 : 0)});
  const unsigned minimum = 2, clear = 1u << minimum;
  out.push_back(minimum);

  // Codes written at the width the reader will take them at.
  std::vector<unsigned char> data;
  std::uint32_t bits = 0;
  unsigned held = 0, width = minimum + 1, next = clear + 2;
  const auto put = [&](unsigned code) {
    bits |= code << held;
    for (held += width; held >= 8; held -= 8, bits >>= 8) data.push_back(static_cast<unsigned char>(bits));
  };
  put(clear);
  put(1);
  const std::size_t room = size - size / 256 - out.size() - 8;
  for (unsigned code = next; data.size() < room; code = std::min(code + 1, 4095u)) {
    put(code);  // from 6 up: the entry being made, the last run and one more pixel
    if (next < 4096 && ++next == (1u << width) && width < 12) ++width;
  }
  put(clear + 1);
  if (held > 0) data.push_back(static_cast<unsigned char>(bits));
  return endImage(std::move(out), data);
}

// Indices that wander over all n colours, the same every run.
inline std::vector<std::uint8_t> noise(int count, unsigned n) {
  std::vector<std::uint8_t> v(static_cast<std::size_t>(count));
  std::uint32_t state = 12345;
  for (auto& i : v) {
    state = state * 1103515245u + 12345u;
    i = static_cast<std::uint8_t>((state >> 16) % n);
  }
  return v;
}

}  // namespace testing_gif
