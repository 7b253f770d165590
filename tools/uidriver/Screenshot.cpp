#include "Screenshot.h"

#include <vector>

#include "Handles.h"

namespace {

bool WriteBmp(const std::wstring& path, int width, int height, const std::vector<BYTE>& rows) {
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;  // bottom-up, as GetDIBits delivers it
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  info.biSizeImage = static_cast<DWORD>(rows.size());
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + info.biSizeImage;
  UniqueFileHandle out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) return false;
  DWORD written = 0;
  return WriteFile(out.get(), &file, sizeof file, &written, nullptr) &&
         WriteFile(out.get(), &info, sizeof info, &written, nullptr) &&
         WriteFile(out.get(), rows.data(), static_cast<DWORD>(rows.size()), &written, nullptr) &&
         written == rows.size();
}

}  // namespace

bool SaveWindowBitmap(HWND window, const std::wstring& path, bool clientOnly, bool print) {
  RECT area{};
  if (clientOnly) {
    GetClientRect(window, &area);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&area), 2);
  } else {
    GetWindowRect(window, &area);
  }
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return false;

  UniqueHDC screen(CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr));
  if (!screen) return false;
  UniqueHDC memory(CreateCompatibleDC(screen.get()));
  UniqueGdiObject bitmap(CreateCompatibleBitmap(screen.get(), width, height));
  if (!memory || !bitmap) return false;
  HGDIOBJ previous = SelectObject(memory.get(), bitmap.get());
  bool copied = print ? PrintWindow(window, memory.get(), clientOnly ? PW_CLIENTONLY : 0) != FALSE
                      : BitBlt(memory.get(), 0, 0, width, height, screen.get(), area.left, area.top, SRCCOPY) != FALSE;
  SelectObject(memory.get(), previous);
  if (!copied) return false;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
  std::vector<BYTE> rows(stride * height);
  if (GetDIBits(memory.get(), static_cast<HBITMAP>(bitmap.get()), 0, height, rows.data(), &info, DIB_RGB_COLORS) != height)
    return false;
  return WriteBmp(path, width, height, rows);
}
