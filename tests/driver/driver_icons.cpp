// Which standard icon does an icon static of another process show?  Icon
// handles belong to the process that loaded them, so the answer is taken
// from the screen: the control's pixels are compared with each system icon
// drawn by this process over the same background.
#include "driver_windows.h"

#include <cstdlib>
#include <vector>

namespace {

struct Bitmap {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previous = nullptr;
  DWORD* pixels = nullptr;
  int width = 0, height = 0;
};

bool MakeBitmap(Bitmap& b, int width, int height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  b.dc = CreateCompatibleDC(nullptr);
  b.bitmap = CreateDIBSection(b.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!b.bitmap) return false;
  b.previous = SelectObject(b.dc, b.bitmap);
  b.pixels = static_cast<DWORD*>(bits);
  b.width = width;
  b.height = height;
  return true;
}

void FreeBitmap(Bitmap& b) {
  if (b.previous) SelectObject(b.dc, b.previous);
  if (b.bitmap) DeleteObject(b.bitmap);
  if (b.dc) DeleteDC(b.dc);
  b = Bitmap();
}

bool CaptureScreen(Bitmap& b, const RECT& r) {
  if (!MakeBitmap(b, r.right - r.left, r.bottom - r.top)) return false;
  HDC screen = GetDC(nullptr);
  BOOL ok = BitBlt(b.dc, 0, 0, b.width, b.height, screen, r.left, r.top, SRCCOPY);
  ReleaseDC(nullptr, screen);
  GdiFlush();
  return ok != FALSE;
}

bool Near(DWORD a, DWORD b) {
  for (int shift = 0; shift < 24; shift += 8)
    if (std::abs((int)((a >> shift) & 0xFF) - (int)((b >> shift) & 0xFF)) > 24) return false;
  return true;
}

// Share of pixels that differ between the capture and the icon drawn at (x, y).
double Difference(const Bitmap& shot, HICON icon, int x, int y, int cx, int cy) {
  Bitmap drawn;
  if (!MakeBitmap(drawn, shot.width, shot.height)) return 1.0;
  DWORD background = shot.pixels[0] & 0xFFFFFF;
  for (int i = 0; i < shot.width * shot.height; ++i) drawn.pixels[i] = background;
  DrawIconEx(drawn.dc, x, y, icon, cx, cy, 0, nullptr, DI_NORMAL);
  GdiFlush();
  int differing = 0;
  for (int i = 0; i < shot.width * shot.height; ++i)
    if (!Near(shot.pixels[i], drawn.pixels[i])) ++differing;
  FreeBitmap(drawn);
  return (double)differing / (shot.width * shot.height);
}

// The static may stretch the icon to its own size or centre it at the system size.
double BestDifference(const Bitmap& shot, HICON icon) {
  int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
  double stretched = Difference(shot, icon, 0, 0, shot.width, shot.height);
  double centred = Difference(shot, icon, (shot.width - cx) / 2, (shot.height - cy) / 2, cx, cy);
  return stretched < centred ? stretched : centred;
}

bool IsBlank(const Bitmap& shot) {
  for (int i = 0; i < shot.width * shot.height; ++i)
    if (!Near(shot.pixels[i], shot.pixels[0])) return false;
  return true;
}

}  // namespace

std::string RecognizeIcon(HWND iconStatic) {
  static const struct {
    LPCSTR resource;
    const char* name;
  } kIcons[] = {
      {IDI_HAND, "hand"},
      {IDI_QUESTION, "question"},
      {IDI_EXCLAMATION, "exclamation"},
      {IDI_ASTERISK, "asterisk"},
  };
  RECT r;
  GetWindowRect(iconStatic, &r);
  Bitmap shot;
  std::string name = "other";
  if (r.right > r.left && r.bottom > r.top && CaptureScreen(shot, r) && !IsBlank(shot)) {
    double best = 0.05;  // a few per cent of stray pixels still count as a match
    for (const auto& candidate : kIcons) {
      double d = BestDifference(shot, LoadIconA(nullptr, candidate.resource));
      if (d < best) {
        best = d;
        name = candidate.name;
      }
    }
  }
  FreeBitmap(shot);
  return name;
}
