#include "platform/windows/toolkit_win32_internal.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace platform::win::detail {

namespace {

// Fonts by face, height in pixels and style; they live as long as the program.
HFONT fontFor(const std::string& family, double points, bool bold, bool italic, UINT dpi) {
  const int height = -static_cast<int>(std::lround(points * dpi / 72.0));
  static std::map<std::tuple<std::string, int, bool, bool>, HFONT> fonts;
  const auto key = std::make_tuple(family, height, bold, italic);
  const auto hit = fonts.find(key);
  if (hit != fonts.end()) return hit->second;
  LOGFONTW font{};
  font.lfHeight = height;
  font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  font.lfItalic = italic ? TRUE : FALSE;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfOutPrecision = OUT_DEFAULT_PRECIS;
  font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  font.lfQuality = DEFAULT_QUALITY;
  font.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
  const std::wstring face = widen(family).substr(0, LF_FACESIZE - 1);
  std::copy(face.begin(), face.end(), font.lfFaceName);
  HFONT made = CreateFontIndirectW(&font);
  fonts.emplace(key, made);
  return made;
}

}  // namespace

// The windows are laid out in twips for the classic 8 pt dialog font.
HFONT fontFor(const Font* font, UINT dpi) {
  if (!font) return fontFor("MS Sans Serif", 8.25, false, false, dpi);
  return fontFor(font->family.empty() ? "MS Sans Serif" : font->family, font->points, font->bold,
                 font->italic, dpi);
}

// Width in pixels of a text in a font. Measured on a memory DC of the screen:
// a window's DC costs a trip for its visible region, once per log line.
int textWidth(HFONT font, const std::wstring& text) {
  static HDC dc = CreateCompatibleDC(nullptr);
  const HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  return size.cx;
}

}  // namespace platform::win::detail
