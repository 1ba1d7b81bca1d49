#include "host/standin/task_bar_window.h"

#include <cstdio>

#include "host/standin/gdi_scope.h"
#include "host/standin/log.h"
#include "host/standin/window_icon.h"

namespace quillon::standin {
namespace {

constexpr wchar_t kBarClass[] = L"QuillonStandinTaskBar";
constexpr UINT kIconTimeoutMs = 200;  // per question to a window; a task bar must not hang

WindowId IdOf(HWND window) { return reinterpret_cast<WindowId>(window); }
HWND WindowOf(WindowId id) { return reinterpret_cast<HWND>(id); }

std::wstring BoxText(const Box& box) {
  return std::to_wstring(box.left) + L"," + std::to_wstring(box.top) + L"," +
         std::to_wstring(box.right) + L"," + std::to_wstring(box.bottom);
}

std::wstring ColourText(COLORREF colour) {
  wchar_t text[8];
  std::swprintf(text, 8, L"#%02x%02x%02x", GetRValue(colour), GetGValue(colour), GetBValue(colour));
  return text;
}

}  // namespace

HICON TaskBarWindow::Icons::Best() const {
  if (from_window != nullptr) return from_window;
  if (from_program) return from_program.Get();
  return ::LoadIconW(nullptr, IDI_APPLICATION);  // shared: never destroyed
}

const wchar_t* TaskBarWindow::Icons::Source() const {
  if (from_window != nullptr) return L"the window";
  return from_program ? L"the program file" : L"the system (none from the window or its program)";
}

bool TaskBarWindow::Create() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &Proc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kBarClass;
  if (::RegisterClassExW(&wc) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return false;
  }
  screen_width_ = ::GetSystemMetrics(SM_CXSCREEN);
  screen_height_ = ::GetSystemMetrics(SM_CYSCREEN);
  layout_ = LayOutBar(screen_width_, screen_height_, 0);
  const Box& bar = layout_.bar;
  window_.Reset(::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kBarClass,
                                  L"Quillon task bar", WS_POPUP, bar.left, bar.top, bar.width(),
                                  bar.height(), nullptr, nullptr, wc.hInstance, nullptr));
  if (!window_) return false;
  // Set after creation rather than taken from the creation message, which another process could
  // send with a pointer of its own.
  ::SetWindowLongPtrW(window_.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  ::ShowWindow(window_.Get(), SW_SHOWNOACTIVATE);
  ::UpdateWindow(window_.Get());
  return true;
}

TaskButtonList::Changes TaskBarWindow::Sync(const std::vector<HWND>& windows) {
  std::vector<WindowId> present;
  present.reserve(windows.size());
  for (HWND window : windows) present.push_back(IdOf(window));
  TaskButtonList::Changes changes = buttons_.Sync(present);
  if (!changes.any()) return changes;
  for (WindowId gone : changes.removed) icons_.erase(gone);
  for (WindowId added : changes.added) {
    icons_[added].from_window = WindowSmallIcon(WindowOf(added), kIconTimeoutMs);
  }
  layout_ = LayOutBar(screen_width_, screen_height_, buttons_.buttons().size());
  ::InvalidateRect(window_.Get(), nullptr, FALSE);
  ::UpdateWindow(window_.Get());
  return changes;
}

bool TaskBarWindow::SetProgram(HWND window, const std::wstring& path, bool resolved) {
  const std::optional<std::size_t> index = buttons_.IndexOf(IdOf(window));
  if (!index || !buttons_.SetProgram(IdOf(window), path, resolved)) return false;
  // The label changed, so the path is a new one: its file's icon is the fallback from now on.
  icons_[IdOf(window)].from_program = ProgramSmallIcon(path);
  RepaintButton(*index);
  return true;
}

bool TaskBarWindow::OnIconChanged(HWND window) {
  const std::optional<std::size_t> index = buttons_.IndexOf(IdOf(window));
  if (!index || !buttons_.CountIconChange(IdOf(window))) return false;
  Icons& icons = icons_[IdOf(window)];
  icons.from_window = WindowSmallIcon(window, kIconTimeoutMs);
  RepaintButton(*index);
  LogLine(L"button     window " + HandleText(window) + L"  redrawn with icon " +
          HandleText(reinterpret_cast<HWND>(icons.Best())) + L" from " + icons.Source() +
          L", icon changes " + std::to_wstring(buttons_.buttons()[*index].icon_changes));
  return true;
}

void TaskBarWindow::RepaintButton(std::size_t index) {
  if (index >= layout_.buttons.size()) return;  // not shown
  const RECT box = ClientBox(layout_.buttons[index]);
  ::InvalidateRect(window_.Get(), &box, FALSE);
  ::UpdateWindow(window_.Get());  // paints now, not when the queue is next empty
}

void TaskBarWindow::LogLayout() const {
  LogLine(L"bar        rect " + BoxText(layout_.bar) + L"  face " +
          ColourText(::GetSysColor(COLOR_BTNFACE)) + L"  buttons " +
          std::to_wstring(buttons_.buttons().size()));
  const auto& buttons = buttons_.buttons();
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    const std::wstring head = L"button     window " + HandleText(WindowOf(buttons[i].window));
    if (i >= layout_.buttons.size()) {
      LogLine(head + L"  not shown: no room left on the bar  \"" + buttons[i].label + L"\"");
      continue;
    }
    const Box& box = layout_.buttons[i];
    LogLine(head + L"  rect " + BoxText(box) + L"  icon " + BoxText(IconBox(box)) + L"  badge " +
            BoxText(BadgeBox(box)) + L"  \"" + buttons[i].label + L"\"");
  }
}

RECT TaskBarWindow::ClientBox(const Box& screen_box) const {
  return {screen_box.left - layout_.bar.left, screen_box.top - layout_.bar.top,
          screen_box.right - layout_.bar.left, screen_box.bottom - layout_.bar.top};
}

// Paints the whole bar into a memory bitmap first, so that a screenshot never catches a
// half-drawn button.
void TaskBarWindow::Paint(HDC target) const {
  const RECT all = ClientBox(layout_.bar);
  UniqueMemoryDc dc(::CreateCompatibleDC(target));
  UniqueBitmap bitmap(::CreateCompatibleBitmap(target, all.right, all.bottom));
  if (!dc || !bitmap) return;
  {
    ScopedSelection canvas(dc.Get(), bitmap.Get());
    ScopedSelection font(dc.Get(), ::GetStockObject(DEFAULT_GUI_FONT));
    ::FillRect(dc.Get(), &all, ::GetSysColorBrush(COLOR_BTNFACE));
    RECT top_edge = all;
    ::DrawEdge(dc.Get(), &top_edge, EDGE_ETCHED, BF_TOP);
    ::SetBkMode(dc.Get(), TRANSPARENT);
    ::SetTextColor(dc.Get(), ::GetSysColor(COLOR_BTNTEXT));
    const auto& buttons = buttons_.buttons();
    for (std::size_t i = 0; i < buttons.size() && i < layout_.buttons.size(); ++i) {
      const Box& box = layout_.buttons[i];
      RECT face = ClientBox(box);
      ::DrawEdge(dc.Get(), &face, EDGE_RAISED, BF_RECT | BF_MIDDLE);
      const RECT icon = ClientBox(IconBox(box));
      const auto found = icons_.find(buttons[i].window);
      if (found != icons_.end()) {
        ::DrawIconEx(dc.Get(), icon.left, icon.top, found->second.Best(), icon.right - icon.left,
                     icon.bottom - icon.top, 0, nullptr, DI_NORMAL);
      }
      const bool badge = buttons[i].icon_changes > 0;
      if (badge) {
        RECT count = ClientBox(BadgeBox(box));
        ::FillRect(dc.Get(), &count, ::GetSysColorBrush(COLOR_HIGHLIGHT));
        ::SetTextColor(dc.Get(), ::GetSysColor(COLOR_HIGHLIGHTTEXT));
        const std::wstring text = std::to_wstring(buttons[i].icon_changes);
        ::DrawTextW(dc.Get(), text.c_str(), -1, &count,
                    DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_NOPREFIX);
        ::SetTextColor(dc.Get(), ::GetSysColor(COLOR_BTNTEXT));
      }
      RECT label = ClientBox(LabelBox(box, badge));
      ::DrawTextW(dc.Get(), buttons[i].label.c_str(), -1, &label,
                  DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_END_ELLIPSIS | DT_NOPREFIX);
    }
    ::BitBlt(target, 0, 0, all.right, all.bottom, dc.Get(), 0, 0, SRCCOPY);
  }
}

LRESULT CALLBACK TaskBarWindow::Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  const auto* self =
      reinterpret_cast<const TaskBarWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // the paint covers everything
    case WM_PAINT:
      if (self == nullptr) break;
      {
        ScopedPaint paint(window);
        self->Paint(paint.dc());
      }
      return 0;
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace quillon::standin
