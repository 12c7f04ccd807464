#pragma once
// Picture files decoded by the system (OLE's picture object: GIF, JPEG, BMP,
// icons), shared between the images that show the same file.

#include <windows.h>

#include <memory>
#include <string>

struct IPicture;

namespace platform::win {

class Picture {
 public:
  explicit Picture(IPicture* picture);
  ~Picture();
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;

  // Size in pixels as stored in the file.
  int width() const { return width_; }
  int height() const { return height_; }
  // Draws it with its transparent parts left as they are.
  void draw(HDC dc, int x, int y, int cx, int cy) const;

 private:
  IPicture* picture_;
  long himetricWidth_ = 0, himetricHeight_ = 0;
  int width_ = 0, height_ = 0;
};

// Decodes a file, once for as long as the file stays the same. A missing file
// raises 53 "File not found", one the system cannot decode 481 "Invalid picture".
std::shared_ptr<const Picture> loadPictureFile(const std::wstring& path);

}  // namespace platform::win
