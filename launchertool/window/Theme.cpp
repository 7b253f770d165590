#include "window/Theme.h"

#include <png.h>
#include <uxtheme.h>

#include <cstring>
#include <string>

#include "resource_ids.h"

namespace {

void FillSolid(HDC dc, const RECT& rect, COLORREF colour) {
  SetBkColor(dc, colour);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
}

void Frame(HDC dc, const RECT& rect, COLORREF colour) {
  UniqueGdiObject brush(CreateSolidBrush(colour));
  FrameRect(dc, &rect, static_cast<HBRUSH>(brush.get()));
}

std::wstring TextOf(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

// Keeps the previous GDI object of a DC and puts it back.
class TSelect {
 public:
  TSelect(HDC dc, HGDIOBJ object) : FDc(dc), FOld(SelectObject(dc, object)) {}
  ~TSelect() { SelectObject(FDc, FOld); }
  TSelect(const TSelect&) = delete;
  TSelect& operator=(const TSelect&) = delete;

 private:
  HDC FDc;
  HGDIOBJ FOld;
};

}  // namespace

TLauncherTheme::TLauncherTheme(HINSTANCE instance, HWND form)
    : FInstance(instance), FForm(form), FPanelBrush(CreateSolidBrush(theme::Slate)) {
  FBackground = LoadPngResource(instance, IDR_BACKGROUND);
}

TLauncherTheme::TPicture TLauncherTheme::LoadPngResource(HINSTANCE instance, int id) {
  TPicture picture;
  HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (!found) return picture;
  HGLOBAL loaded = LoadResource(instance, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  DWORD size = SizeofResource(instance, found);
  if (!data || !size) return picture;

  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data, size)) return picture;
  image.format = PNG_FORMAT_BGRA;
  std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    return picture;
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = static_cast<LONG>(image.width);
  info.bmiHeader.biHeight = -static_cast<LONG>(image.height);
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap) return picture;
  // AlphaBlend wants premultiplied colours.
  auto* out = static_cast<unsigned char*>(bits);
  for (size_t i = 0; i + 3 < pixels.size(); i += 4) {
    unsigned a = pixels[i + 3];
    out[i] = static_cast<unsigned char>(pixels[i] * a / 255);
    out[i + 1] = static_cast<unsigned char>(pixels[i + 1] * a / 255);
    out[i + 2] = static_cast<unsigned char>(pixels[i + 2] * a / 255);
    out[i + 3] = static_cast<unsigned char>(a);
  }
  picture.Bitmap.reset(bitmap);
  picture.Width = static_cast<int>(image.width);
  picture.Height = static_cast<int>(image.height);
  return picture;
}

HFONT TLauncherTheme::Font(int pixelHeight) {
  auto& font = FFonts[pixelHeight];
  if (!font)
    font.reset(CreateFontW(-pixelHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma"));
  return static_cast<HFONT>(font.get());
}

void TLauncherTheme::TrackHover(HWND button) {
  SetWindowSubclass(button, &TLauncherTheme::HoverProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

void TLauncherTheme::StyleProgressBar(HWND bar) {
  // Without visual styles the bar takes our colours; some comctl32 builds
  // ignore them, so the bar is also painted here (it stays the real control).
  SetWindowTheme(bar, L"", L"");
  SendMessageW(bar, PBM_SETBARCOLOR, 0, theme::Accent);
  SendMessageW(bar, PBM_SETBKCOLOR, 0, theme::Charcoal);
  SetWindowSubclass(bar, &TLauncherTheme::ProgressProc, 2, 0);
}

namespace {

void FillColour(HDC dc, const RECT& rect, COLORREF colour) {
  SetDCBrushColor(dc, colour);
  FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

// The filled part: the position's share, or a segment sliding with time.
RECT ProgressFill(HWND bar, const RECT& inner) {
  RECT fill = inner;
  const LONG width = inner.right - inner.left;
  if (GetWindowLongPtrW(bar, GWL_STYLE) & PBS_MARQUEE) {
    const LONG segment = width / 5;
    const LONG travel = width + segment;
    const LONG offset = travel > 0 ? static_cast<LONG>((GetTickCount() / 8) % static_cast<DWORD>(travel)) : 0;
    fill.left = inner.left + offset - segment;
    fill.right = fill.left + segment;
    if (fill.left < inner.left) fill.left = inner.left;
    if (fill.right > inner.right) fill.right = inner.right;
    return fill;
  }
  PBRANGE range{};
  SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  const LONG position = static_cast<LONG>(SendMessageW(bar, PBM_GETPOS, 0, 0));
  const LONG span = range.iHigh - range.iLow;
  const LONG done = span > 0 ? static_cast<LONG>(MulDiv(position - range.iLow, width, span)) : 0;
  fill.right = inner.left + (done < 0 ? 0 : done > width ? width : done);
  return fill;
}

void PaintProgress(HWND bar, HDC dc) {
  RECT client{};
  GetClientRect(bar, &client);
  FillColour(dc, client, theme::SlateBorder);
  RECT inner = client;
  InflateRect(&inner, -1, -1);
  FillColour(dc, inner, theme::Charcoal);
  InflateRect(&inner, -2, -2);
  const RECT fill = ProgressFill(bar, inner);
  if (fill.right > fill.left) FillColour(dc, fill, theme::Accent);
}

}  // namespace

LRESULT CALLBACK TLauncherTheme::ProgressProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) noexcept {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd, &paint);
      PaintProgress(hwnd, dc);
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, &TLauncherTheme::ProgressProc, 2);
      break;
  }
  return DefSubclassProc(hwnd, msg, wp, lp);
}

void TLauncherTheme::SetImageButton(HWND button, int resourceId) {
  FImages[button] = LoadPngResource(FInstance, resourceId);
}

LRESULT CALLBACK TLauncherTheme::HoverProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) noexcept {
  auto* self = reinterpret_cast<TLauncherTheme*>(ref);
  switch (msg) {
    case WM_SETCURSOR:
      if (LOWORD(lp) == HTCLIENT) {
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32649)));  // IDC_HAND
        return TRUE;
      }
      break;
    case WM_MOUSEMOVE:
      if (self->FHot != hwnd) {
        HWND previous = self->FHot;
        self->FHot = hwnd;
        if (previous) InvalidateRect(previous, nullptr, FALSE);
        InvalidateRect(hwnd, nullptr, FALSE);
        TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd, 0};
        TrackMouseEvent(&track);
      }
      break;
    case WM_MOUSELEAVE:
      if (self->FHot == hwnd) {
        self->FHot = nullptr;
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      break;
    case WM_NCDESTROY:
      if (self->FHot == hwnd) self->FHot = nullptr;
      RemoveWindowSubclass(hwnd, &TLauncherTheme::HoverProc, 1);
      break;
  }
  return DefSubclassProc(hwnd, msg, wp, lp);
}

void TLauncherTheme::PaintBackground(HDC dc, HWND control, const RECT& rect) {
  if (!FBackground.Bitmap) {
    FillSolid(dc, rect, theme::Charcoal);
    return;
  }
  POINT origin{0, 0};
  if (control != FForm) MapWindowPoints(control, FForm, &origin, 1);
  RECT client;
  GetClientRect(FForm, &client);
  UniqueHDC source(CreateCompatibleDC(dc));
  TSelect select(source.get(), FBackground.Bitmap.get());
  // The picture is stretched over the client area.
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (client.right == FBackground.Width && client.bottom == FBackground.Height) {
    BitBlt(dc, rect.left, rect.top, width, height, source.get(), origin.x + rect.left, origin.y + rect.top, SRCCOPY);
  } else if (client.right > 0 && client.bottom > 0) {
    SetStretchBltMode(dc, HALFTONE);
    double sx = double(FBackground.Width) / client.right, sy = double(FBackground.Height) / client.bottom;
    StretchBlt(dc, rect.left, rect.top, width, height, source.get(), int((origin.x + rect.left) * sx),
               int((origin.y + rect.top) * sy), int(width * sx), int(height * sy), SRCCOPY);
  }
}

bool TLauncherTheme::DrawItem(const DRAWITEMSTRUCT& item) {
  if (item.CtlType == ODT_STATIC) {
    auto label = FLabels.find(item.hwndItem);
    if (label != FLabels.end()) DrawLabel(item, label->second);
    else PaintBackground(item.hDC, item.hwndItem, item.rcItem);  // the picture and the panel
    return true;
  }
  if (item.CtlType == ODT_BUTTON) {
    auto image = FImages.find(item.hwndItem);
    if (image != FImages.end()) DrawImageButton(item, image->second);
    else DrawPushButton(item);
    return true;
  }
  return false;
}

void TLauncherTheme::DrawLabel(const DRAWITEMSTRUCT& item, const TLabelLook& look) {
  HDC dc = item.hDC;
  RECT rect = item.rcItem;
  PaintBackground(dc, item.hwndItem, rect);
  std::wstring text = TextOf(item.hwndItem);
  UINT flags = look.Horizontal | DT_NOPREFIX | (look.WordWrap ? DT_WORDBREAK : DT_SINGLELINE);
  // Where the system's substitute for Tahoma runs wider, the text shrinks to
  // stay whole inside its label.
  TSelect font(dc, Font(look.FontSize));
  int size = look.FontSize;
  RECT measure = rect;
  for (;; --size) {
    SelectObject(dc, Font(size));
    measure = rect;
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measure, flags | DT_CALCRECT);
    bool fits = measure.right - measure.left <= rect.right - rect.left && measure.bottom - measure.top <= rect.bottom - rect.top;
    if (fits || size <= 9) break;
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, IsWindowEnabled(item.hwndItem) ? theme::White : theme::DisabledText);
  if (look.Vertical != TLabelLook::Top) {
    int room = (rect.bottom - rect.top) - (measure.bottom - measure.top);
    if (room > 0) rect.top += (look.Vertical == TLabelLook::Center) ? room / 2 : room;
  }
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, flags);
}

void TLauncherTheme::DrawPushButton(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  RECT rect = item.rcItem;
  bool disabled = item.itemState & ODS_DISABLED;
  bool pressed = item.itemState & ODS_SELECTED;
  bool hot = FHot == item.hwndItem;
  COLORREF fill = theme::Slate, border = theme::SlateBorder, text = theme::Light;
  if (disabled) {
    fill = theme::DisabledFill;
    border = theme::DisabledBorder;
    text = theme::DisabledText;
  } else if (pressed) {
    fill = theme::AccentPressed;
    border = theme::Accent;
    text = theme::White;
  } else if (hot) {
    fill = theme::SlateHot;
    border = theme::Accent;
    text = theme::White;
  }
  FillSolid(dc, rect, fill);
  Frame(dc, rect, border);
  if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT) && !disabled) {
    RECT inner = rect;
    InflateRect(&inner, -3, -3);
    Frame(dc, inner, theme::Accent);
  }
  std::wstring caption = TextOf(item.hwndItem);
  TSelect font(dc, Font(32));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, text);
  if (pressed) OffsetRect(&rect, 1, 1);
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &rect,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

void TLauncherTheme::DrawImageButton(const DRAWITEMSTRUCT& item, const TPicture& picture) {
  HDC dc = item.hDC;
  RECT rect = item.rcItem;
  PaintBackground(dc, item.hwndItem, rect);
  bool hot = FHot == item.hwndItem || (item.itemState & ODS_SELECTED);
  int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (picture.Bitmap) {
    UniqueHDC source(CreateCompatibleDC(dc));
    TSelect select(source.get(), picture.Bitmap.get());
    BLENDFUNCTION blend{AC_SRC_OVER, 0, static_cast<BYTE>(hot ? 255 : 215), AC_SRC_ALPHA};
    int inset = (item.itemState & ODS_SELECTED) ? 2 : 0;
    AlphaBlend(dc, rect.left + inset, rect.top + inset, w - 2 * inset, h - 2 * inset, source.get(), 0, 0,
               picture.Width, picture.Height, blend);
  }
  if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) Frame(dc, rect, theme::Accent);
}

LRESULT TLauncherTheme::CustomDrawRadio(const NMCUSTOMDRAW& draw) {
  if (draw.dwDrawStage != CDDS_PREPAINT) return CDRF_DODEFAULT;
  HWND button = draw.hdr.hwndFrom;
  HDC dc = draw.hdc;
  RECT rect = draw.rc;
  PaintBackground(dc, button, rect);
  bool enabled = IsWindowEnabled(button);
  bool checked = SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
  bool hot = (draw.uItemState & CDIS_HOT) != 0;
  int size = 14;
  int top = rect.top + ((rect.bottom - rect.top) - size) / 2;
  RECT circle{rect.left + 1, top, rect.left + 1 + size, top + size};
  {
    UniqueGdiObject pen(CreatePen(PS_SOLID, 1, enabled ? (hot ? theme::Accent : theme::Light) : theme::DisabledText));
    UniqueGdiObject fill(CreateSolidBrush(theme::Charcoal));
    TSelect p(dc, pen.get()), b(dc, fill.get());
    Ellipse(dc, circle.left, circle.top, circle.right, circle.bottom);
  }
  if (checked) {
    UniqueGdiObject dot(CreateSolidBrush(enabled ? theme::Accent : theme::DisabledText));
    UniqueGdiObject pen(CreatePen(PS_NULL, 0, 0));
    TSelect p(dc, pen.get()), b(dc, dot.get());
    Ellipse(dc, circle.left + 4, circle.top + 4, circle.right - 3, circle.bottom - 3);
  }
  std::wstring text = TextOf(button);
  RECT textRect = rect;
  textRect.left = circle.right + 6;
  TSelect font(dc, Font(16));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, enabled ? theme::White : theme::DisabledText);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textRect, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  if (draw.uItemState & CDIS_FOCUS) {
    RECT focus = textRect;
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &focus,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);
    int shift = ((textRect.bottom - textRect.top) - (focus.bottom - focus.top)) / 2;
    OffsetRect(&focus, 0, shift);
    InflateRect(&focus, 2, 1);
    SetTextColor(dc, theme::Light);
    DrawFocusRect(dc, &focus);
  }
  return CDRF_SKIPDEFAULT;
}
