// The icon flipper's icons: a red disc, a green square and a blue triangle, so that each change
// is plain to see on a task bar and in a screenshot.
#pragma once

#include <windows.h>

#include <array>

#include "host/win32_handles.h"

namespace quillon::standin {

enum class IconShape { kDisc, kSquare, kTriangle };

struct FlipperIcon {
  UniqueIcon small_icon;  // SM_CXSMICON square
  UniqueIcon big_icon;    // SM_CXICON square
};

// Null icons where GDI failed.
UniqueIcon DrawShapeIcon(IconShape shape, COLORREF colour, int size);
std::array<FlipperIcon, 3> MakeFlipperIcons();

}  // namespace quillon::standin
