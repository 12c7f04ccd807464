#include "platform/windows/picture_win32.h"

#include "platform/fault.h"
#include "platform/portable/gif.h"

#include <cstdint>
#include <map>
#include <vector>

namespace platform::win {

Picture::Picture(const gif::Image& image) : width_(image.width), height_(image.height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width_;
  info.bmiHeader.biHeight = -height_;  // top row first, as decoded
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  colour_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!colour_ || !bits) {
    if (colour_) DeleteObject(colour_);
    raise(7, "Out of memory");
  }
  auto* out = static_cast<std::uint32_t*>(bits);
  for (size_t i = 0; i < image.pixels.size(); ++i)  // 0x00RRGGBB is the DIB's own order
    out[i] = (image.pixels[i] >> 24) ? image.pixels[i] & 0xFFFFFF : 0;
  GdiFlush();
  if (!image.transparent) return;

  // Rows of a monochrome bitmap are padded to 16 bits.
  const size_t stride = (static_cast<size_t>(width_) + 15) / 16 * 2;
  std::vector<unsigned char> mask(stride * static_cast<size_t>(height_), 0);
  const auto width = static_cast<size_t>(width_);
  for (size_t i = 0; i < image.pixels.size(); ++i) {
    const size_t y = i / width, x = i % width;
    if ((image.pixels[i] >> 24) == 0) mask[y * stride + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
  }
  mask_ = CreateBitmap(width_, height_, 1, 1, mask.data());
  if (!mask_) {
    DeleteObject(colour_);
    raise(7, "Out of memory");
  }
}

Picture::~Picture() {
  DeleteObject(colour_);
  if (mask_) DeleteObject(mask_);
}

void Picture::draw(HDC dc, int x, int y, int cx, int cy) const {
  HDC source = CreateCompatibleDC(dc);
  if (!source) return;
  const int oldMode = SetStretchBltMode(dc, COLORONCOLOR);
  HGDIOBJ old = nullptr;
  if (mask_) {
    // Where the mask is white the screen stays (AND with white), elsewhere it
    // goes black; the colours, black where transparent, are then ORed in.
    const COLORREF oldBack = SetBkColor(dc, RGB(255, 255, 255));
    const COLORREF oldText = SetTextColor(dc, RGB(0, 0, 0));
    old = SelectObject(source, mask_);
    StretchBlt(dc, x, y, cx, cy, source, 0, 0, width_, height_, SRCAND);
    SelectObject(source, colour_);
    StretchBlt(dc, x, y, cx, cy, source, 0, 0, width_, height_, SRCPAINT);
    SetBkColor(dc, oldBack);
    SetTextColor(dc, oldText);
  } else {
    old = SelectObject(source, colour_);
    StretchBlt(dc, x, y, cx, cy, source, 0, 0, width_, height_, SRCCOPY);
  }
  SelectObject(source, old);
  SetStretchBltMode(dc, oldMode);
  DeleteDC(source);
}

namespace {

// The file's bytes, or nothing when it cannot be read.
bool readFile(const std::wstring& path, std::vector<unsigned char>& bytes) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart <= gif::kMostFileBytes;
  if (ok) {
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    ok = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
         got == bytes.size();
  }
  CloseHandle(file);
  return ok;
}

struct Decoded {
  FILETIME written{};
  ULONGLONG size = 0;
  std::shared_ptr<const Picture> picture;
};

}  // namespace

std::shared_ptr<const Picture> loadPictureFile(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA info{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info))
    raise(faults::kFileNotFound, "File not found");
  const ULONGLONG size = (ULONGLONG{info.nFileSizeHigh} << 32) | info.nFileSizeLow;

  // The LEDs show the same two files over and over.
  static std::map<std::wstring, Decoded> cache;
  wchar_t full[MAX_PATH * 2];
  const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr);
  const std::wstring key = n > 0 && n < MAX_PATH * 2 ? std::wstring(full, n) : path;
  const auto hit = cache.find(key);
  if (hit != cache.end() && hit->second.size == size &&
      CompareFileTime(&hit->second.written, &info.ftLastWriteTime) == 0)
    return hit->second.picture;

  std::vector<unsigned char> bytes;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !readFile(path, bytes)) bytes.clear();
  auto shared = std::make_shared<const Picture>(gif::picture(bytes));
  cache[key] = Decoded{info.ftLastWriteTime, size, shared};
  return shared;
}

}  // namespace platform::win
