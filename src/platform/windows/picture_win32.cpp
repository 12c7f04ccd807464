#include "platform/windows/picture_win32.h"

#include "platform/fault.h"

#include <ole2.h>
#include <olectl.h>

#include <map>
#include <vector>

namespace platform::win {

Picture::Picture(IPicture* picture) : picture_(picture) {
  picture_->get_Width(&himetricWidth_);
  picture_->get_Height(&himetricHeight_);
  short type = PICTYPE_UNINITIALIZED;
  OLE_HANDLE handle = 0;
  BITMAP bitmap{};
  if (SUCCEEDED(picture_->get_Type(&type)) && type == PICTYPE_BITMAP &&
      SUCCEEDED(picture_->get_Handle(&handle)) &&
      GetObjectW(reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(handle)), sizeof bitmap,
                 &bitmap)) {
    width_ = bitmap.bmWidth;
    height_ = bitmap.bmHeight;
  } else {  // 2540 HIMETRIC to the inch, at 96 pixels to the inch
    width_ = MulDiv(himetricWidth_, 96, 2540);
    height_ = MulDiv(himetricHeight_, 96, 2540);
  }
}

Picture::~Picture() { picture_->Release(); }

void Picture::draw(HDC dc, int x, int y, int cx, int cy) const {
  // The source rectangle runs bottom-up in HIMETRIC.
  picture_->Render(dc, x, y, cx, cy, 0, himetricHeight_, himetricWidth_, -himetricHeight_,
                   nullptr);
}

namespace {

// The file's bytes, or nothing when it cannot be read.
bool readFile(const std::wstring& path, std::vector<char>& bytes) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (64 << 20);
  if (ok) {
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    ok = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
         got == bytes.size();
  }
  CloseHandle(file);
  return ok;
}

IPicture* decode(const std::vector<char>& bytes) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (!memory) return nullptr;
  if (void* data = GlobalLock(memory)) {
    CopyMemory(data, bytes.data(), bytes.size());
    GlobalUnlock(memory);
  }
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
    GlobalFree(memory);
    return nullptr;
  }
  IPicture* picture = nullptr;
  const HRESULT result = OleLoadPicture(stream, static_cast<LONG>(bytes.size()), FALSE,
                                        IID_IPicture, reinterpret_cast<void**>(&picture));
  stream->Release();
  return SUCCEEDED(result) ? picture : nullptr;
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

  std::vector<char> bytes;
  IPicture* picture = nullptr;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && readFile(path, bytes))
    picture = decode(bytes);
  if (!picture) raise(faults::kInvalidPicture, "Invalid picture");
  auto shared = std::make_shared<const Picture>(picture);
  cache[key] = Decoded{info.ftLastWriteTime, size, shared};
  return shared;
}

}  // namespace platform::win
