#include "host/standin/flipper_icons.h"

#include "host/standin/gdi_scope.h"

namespace quillon::standin {
namespace {

// Draws the shape filled with `fill` and outlined with `outline` on a `size` square.
void DrawShape(HDC dc, IconShape shape, COLORREF fill, COLORREF outline, int size) {
  UniqueBrush brush(::CreateSolidBrush(fill));
  UniquePen pen(::CreatePen(PS_SOLID, 1, outline));
  ScopedSelection brush_in(dc, brush.Get());
  ScopedSelection pen_in(dc, pen.Get());
  const int last = size - 1;
  switch (shape) {
    case IconShape::kDisc:
      ::Ellipse(dc, 0, 0, size, size);
      break;
    case IconShape::kSquare:
      ::Rectangle(dc, 1, 1, size - 1, size - 1);
      break;
    case IconShape::kTriangle: {
      const POINT corners[] = {{size / 2, 0}, {last, last}, {0, last}};
      ::Polygon(dc, corners, 3);
      break;
    }
  }
}

}  // namespace

UniqueIcon DrawShapeIcon(IconShape shape, COLORREF colour, int size) {
  ScopedWindowDc screen;
  UniqueMemoryDc dc(::CreateCompatibleDC(screen.dc()));
  UniqueBitmap colours(::CreateCompatibleBitmap(screen.dc(), size, size));
  UniqueBitmap mask(::CreateBitmap(size, size, 1, 1, nullptr));
  if (!dc || !colours || !mask) return UniqueIcon();
  const RECT all{0, 0, size, size};
  {
    // Colour image: the shape on black (black shows nothing where the mask is transparent).
    ScopedSelection in(dc.Get(), colours.Get());
    ::FillRect(dc.Get(), &all, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    DrawShape(dc.Get(), shape, colour, RGB(32, 32, 32), size);
  }
  {
    // Mask: white (transparent) around, black (opaque) where the shape is.
    ScopedSelection in(dc.Get(), mask.Get());
    ::FillRect(dc.Get(), &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    DrawShape(dc.Get(), shape, RGB(0, 0, 0), RGB(0, 0, 0), size);
  }
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmMask = mask.Get();
  info.hbmColor = colours.Get();
  return UniqueIcon(::CreateIconIndirect(&info));  // copies both bitmaps
}

std::array<FlipperIcon, 3> MakeFlipperIcons() {
  struct Look {
    IconShape shape;
    COLORREF colour;
  };
  constexpr Look looks[] = {{IconShape::kDisc, RGB(220, 40, 40)},
                            {IconShape::kSquare, RGB(40, 170, 60)},
                            {IconShape::kTriangle, RGB(40, 90, 230)}};
  const int small_size = ::GetSystemMetrics(SM_CXSMICON);
  const int big_size = ::GetSystemMetrics(SM_CXICON);
  std::array<FlipperIcon, 3> icons;
  for (std::size_t i = 0; i < icons.size(); ++i) {
    icons[i].small_icon = DrawShapeIcon(looks[i].shape, looks[i].colour, small_size);
    icons[i].big_icon = DrawShapeIcon(looks[i].shape, looks[i].colour, big_size);
  }
  return icons;
}

}  // namespace quillon::standin
