#pragma once
// GIF pictures as GDI bitmaps, shared between the images that show the same
// file.

#include <windows.h>

#include <memory>
#include <string>

namespace platform::gif {
struct Image;
}

namespace platform::win {

class Picture {
 public:
  explicit Picture(const gif::Image& image);
  ~Picture();
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;

  // Size in pixels as stored in the file.
  int width() const { return width_; }
  int height() const { return height_; }
  // Draws it scaled to cx x cy, with its transparent parts left as they are.
  void draw(HDC dc, int x, int y, int cx, int cy) const;

 private:
  int width_ = 0, height_ = 0;
  HBITMAP colour_ = nullptr;  // transparent pixels black
  HBITMAP mask_ = nullptr;    // monochrome, transparent pixels white; none if there are none
};

// Decodes a file, once for as long as the file stays the same. A missing file
// raises 53 "File not found", one that is no GIF 481 "Invalid picture"
// (gif::picture, as on Linux).
std::shared_ptr<const Picture> loadPictureFile(const std::wstring& path);

}  // namespace platform::win
