#pragma once
// The dark look of the launcher window ("Charcoal Dark Slate"): pictures from
// the resources, fonts, colours, and the drawing of the standard controls
// (owner-drawn labels and buttons, custom-drawn radio buttons). The controls
// stay real Static/Button/progress windows; only their painting is ours.
#include <windows.h>
#include <commctrl.h>

#include <map>
#include <vector>

#include "Handles.h"

namespace theme {
inline constexpr COLORREF Charcoal = RGB(0x1E, 0x20, 0x24);
inline constexpr COLORREF Slate = RGB(0x2B, 0x33, 0x3D);
inline constexpr COLORREF SlateHot = RGB(0x3A, 0x45, 0x52);
inline constexpr COLORREF SlateBorder = RGB(0x4A, 0x55, 0x62);
inline constexpr COLORREF Accent = RGB(0xD9, 0x8E, 0x2B);
inline constexpr COLORREF AccentPressed = RGB(0xA8, 0x6A, 0x1C);
inline constexpr COLORREF Light = RGB(0xE8, 0xE6, 0xE3);
inline constexpr COLORREF White = RGB(0xFF, 0xFF, 0xFF);
inline constexpr COLORREF DisabledFill = RGB(0x25, 0x28, 0x2D);
inline constexpr COLORREF DisabledBorder = RGB(0x36, 0x3B, 0x42);
inline constexpr COLORREF DisabledText = RGB(0x7A, 0x7E, 0x85);
}  // namespace theme

// How a label places its text.
struct TLabelLook {
  int FontSize = 11;
  UINT Horizontal = DT_LEFT;  // DT_LEFT or DT_CENTER
  enum { Top, Center, Bottom } Vertical = Top;
  bool WordWrap = false;
};

class TLauncherTheme {
 public:
  // The window whose client area the background picture covers.
  TLauncherTheme(HINSTANCE instance, HWND form);

  HFONT Font(int pixelHeight);
  HBRUSH PanelBrush() const { return static_cast<HBRUSH>(FPanelBrush.get()); }

  void SetLabelLook(HWND label, const TLabelLook& look) { FLabels[label] = look; }
  // Subclasses a button for the hand cursor and the hover look.
  void TrackHover(HWND button);
  // Borderless progress bar in the theme's colours.
  void StyleProgressBar(HWND bar);

  // WM_DRAWITEM of the owner-drawn controls; false when not ours.
  bool DrawItem(const DRAWITEMSTRUCT& item);
  // NM_CUSTOMDRAW of the radio buttons.
  LRESULT CustomDrawRadio(const NMCUSTOMDRAW& draw);

  // The part of the background picture that lies behind a control.
  void PaintBackground(HDC dc, HWND control, const RECT& rect);

  void SetImageButton(HWND button, int resourceId);

 private:
  struct TPicture {
    UniqueGdiObject Bitmap;
    int Width = 0;
    int Height = 0;
  };
  static TPicture LoadPngResource(HINSTANCE instance, int id);
  static LRESULT CALLBACK HoverProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR) noexcept;
  static LRESULT CALLBACK ProgressProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR) noexcept;

  void DrawLabel(const DRAWITEMSTRUCT& item, const TLabelLook& look);
  void DrawPushButton(const DRAWITEMSTRUCT& item);
  void DrawImageButton(const DRAWITEMSTRUCT& item, const TPicture& picture);

  HINSTANCE FInstance;
  HWND FForm;
  TPicture FBackground;
  std::map<HWND, TPicture> FImages;
  std::map<int, UniqueGdiObject> FFonts;
  std::map<HWND, TLabelLook> FLabels;
  UniqueGdiObject FPanelBrush;
  HWND FHot = nullptr;
};
