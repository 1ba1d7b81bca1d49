// A fake window tree for the attach walk: windows in search order, each with a class, a title,
// a visibility, a parent and properties; records what the walk asked. Helpers below build shell
// chains and host dialogs in it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "hooklib/attach.h"

namespace quillon::test {

class FakeDesktop final : public AttachPort {
 public:
  // Adds a window after all existing ones in search order; returns its handle (never 0).
  WindowId Add(const std::string& windowClass, const std::string& title = "", WindowId parent = 0,
               bool visible = true) {
    windows_.push_back({windowClass, title, parent, visible, {}});
    return windows_.size() * 0x10;
  }
  void SetProperty(WindowId window, const std::string& name, HookRef value) {
    At(window).properties[name] = value;
  }
  // The window and everything below it are gone: no search finds them, Exists says no.
  void Destroy(WindowId window) {
    At(window).destroyed = true;
    for (WindowId w = 0x10; w <= windows_.size() * 0x10; w += 0x10) {
      if (At(w).parent == window && !At(w).destroyed) Destroy(w);
    }
  }
  bool Exists(WindowId window) const {
    return window != 0 && window % 0x10 == 0 && window <= windows_.size() * 0x10 &&
           !windows_[window / 0x10 - 1].destroyed;
  }

  WindowId FindTopLevel(const char* windowClass, WindowId after) override {
    for (WindowId w = after + 0x10; w <= windows_.size() * 0x10; w += 0x10) {
      if (Exists(w) && At(w).parent == 0 && At(w).windowClass == windowClass) return w;
    }
    return 0;
  }
  WindowId FindChild(WindowId parent, const char* windowClass, const char* title) override {
    for (WindowId w = 0x10; w <= windows_.size() * 0x10; w += 0x10) {
      const Window& window = At(w);
      if (Exists(w) && window.parent == parent && window.windowClass == windowClass &&
          (title == nullptr || window.title == title)) {
        return w;
      }
    }
    return 0;
  }
  bool IsVisible(WindowId window) override {
    ++visibilityChecks[window];
    return At(window).visible;
  }
  HookRef GetProperty(WindowId window, const char* name) override {
    const auto& properties = At(window).properties;
    const auto it = properties.find(name);
    return it == properties.end() ? 0 : it->second;
  }
  TimerRef StartWatchdogTimer(unsigned periodMs) override {
    timerPeriods.push_back(periodMs);
    return timerId;
  }

  std::map<WindowId, int> visibilityChecks;
  std::vector<unsigned> timerPeriods;
  TimerRef timerId = 0x7E57;

 private:
  struct Window {
    std::string windowClass, title;
    WindowId parent;
    bool visible;
    std::map<std::string, HookRef> properties;
    bool destroyed = false;
  };
  Window& At(WindowId w) { return windows_.at(w / 0x10 - 1); }

  std::vector<Window> windows_;
};

// The windows of one shell chain, as built by AddChain.
struct Chain {
  WindowId tray = 0, rebar = 0, taskSwitch = 0;
};

inline Chain AddChain(FakeDesktop& desktop, bool visible = true) {
  Chain chain;
  chain.tray = desktop.Add("Shell_TrayWnd", "", 0, visible);
  chain.rebar = desktop.Add("ReBarWindow32", "", chain.tray);
  chain.taskSwitch = desktop.Add("MSTaskSwWClass", "", chain.rebar);
  return chain;
}

// A "#32770" dialog below `parent`, with the hook property unless `hook` is 0.
inline WindowId AddDialog(FakeDesktop& desktop, WindowId parent, const char* title, HookRef hook) {
  const WindowId dialog = desktop.Add("#32770", title, parent);
  if (hook != 0) desktop.SetProperty(dialog, "WDIcon_hook", hook);
  return dialog;
}

}  // namespace quillon::test
