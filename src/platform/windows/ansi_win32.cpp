#include "platform/ansi.h"

#include "platform/windows/wintext.h"

namespace platform {

std::string toAnsi(const std::string& utf8) {
  std::wstring text = win::widen(utf8);
  // No single-byte code page holds a character outside the BMP: one '?' for
  // the pair, not one for each half.
  std::wstring bmp;
  bmp.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (IS_HIGH_SURROGATE(c) && i + 1 < text.size() && IS_LOW_SURROGATE(text[i + 1])) {
      bmp.push_back(L'?');
      ++i;
    } else {
      bmp.push_back(c);
    }
  }
  if (bmp.empty()) return {};
  // No best fit: a character the code page lacks is '?', not a look-alike.
  const int size = static_cast<int>(bmp.size());
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, bmp.data(), size, nullptr, 0,
                                    "?", nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, bmp.data(), size, out.data(), n, "?", nullptr);
  return out;
}

std::string fromAnsi(const std::string& bytes) { return win::narrow(win::widen(bytes, CP_ACP)); }

}  // namespace platform
