// The window framework in one process, with real windows: registration, the "WND_ENTITY" link,
// the dispatch to handlers, teardown and the class-name registry.
#include "assistant/cwnd.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/crash_guard.h"

namespace quillon {
namespace {

constexpr const wchar_t* kProbeClass = L"QuillonTest_ProbeWnd";
constexpr const wchar_t* kEntity = L"WND_ENTITY";

// What a probe saw; kept outside the object so that it can be read after the object is gone.
struct ProbeLog {
  std::vector<UINT> windowProc;
  int destroys = 0;
  std::vector<WPARAM> timers;
};

bool g_probeRegistered = false;
bool g_twinRegistered = false;

class ProbeWnd : public CWnd {
 public:
  explicit ProbeWnd(ProbeLog& log) : log_(log) {}
  ~ProbeWnd() override = default;

  bool& RegisteredFlag() override { return g_probeRegistered; }
  const wchar_t* ClassName() const override { return kProbeClass; }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    log_.windowProc.push_back(message);
    return CWnd::WindowProc(message, wParam, lParam);
  }
  int OnNcCreate(WPARAM, LPARAM) override { return ncCreateResult; }
  LRESULT OnDestroy() override {
    ++log_.destroys;
    return 0;
  }
  LRESULT OnTimer(WPARAM wParam, LPARAM) override {
    log_.timers.push_back(wParam);
    return 7;
  }

  bool Saw(UINT message) const {
    for (UINT m : log_.windowProc) {
      if (m == message) return true;
    }
    return false;
  }

  using CWnd::SetAttached;
  using CWnd::SetPreviousWndProc;
  int ncCreateResult = 1;

 private:
  ProbeLog& log_;
};

// Same class name, flag of its own: its registration finds the class already there.
class TwinWnd : public ProbeWnd {
 public:
  using ProbeWnd::ProbeWnd;
  bool& RegisteredFlag() override { return g_twinRegistered; }
};

TEST(CWndTest, CreateRegistersTheClassOnceAndLinksWindowAndObject) {
  ProbeLog log;
  ProbeWnd probe(log);
  ASSERT_TRUE(probe.Create(0, WS_POPUP, nullptr, nullptr));
  const HWND window = probe.GetHwnd();
  EXPECT_TRUE(g_probeRegistered);
  EXPECT_EQ(GetPropW(window, kEntity), static_cast<CWnd*>(&probe));
  EXPECT_EQ(GetWindowTextLengthW(window), 0);
  EXPECT_EQ(GetClassLongPtrW(window, GCL_STYLE), static_cast<ULONG_PTR>(CS_VREDRAW | CS_HREDRAW));
  EXPECT_EQ(GetClassLongPtrW(window, GCLP_HBRBACKGROUND), static_cast<ULONG_PTR>(COLOR_WINDOW + 1));
  EXPECT_EQ(GetClassLongPtrW(window, GCL_CBWNDEXTRA), 0u);
  EXPECT_EQ(GetClassLongPtrW(window, GCLP_WNDPROC),
            reinterpret_cast<ULONG_PTR>(&CWnd::StaticWndProc));
  ASSERT_FALSE(log.windowProc.empty());
  EXPECT_EQ(log.windowProc.front(), static_cast<UINT>(WM_NCCREATE));
  EXPECT_TRUE(probe.EnsureRegistered());  // the flag holds: no second registration
}

TEST(CWndTest, SecondCreateDestroysTheFirstWindow) {
  ProbeLog log;
  ProbeWnd probe(log);
  ASSERT_TRUE(probe.Create(0, WS_POPUP, nullptr, nullptr));
  const HWND first = probe.GetHwnd();
  ASSERT_TRUE(probe.Create(0, WS_POPUP, nullptr, nullptr));
  EXPECT_FALSE(IsWindow(first));
  EXPECT_EQ(log.destroys, 1);
  EXPECT_NE(probe.GetHwnd(), first);
  EXPECT_EQ(GetPropW(probe.GetHwnd(), kEntity), static_cast<CWnd*>(&probe));
}

TEST(CWndTest, CreateGoesOnWhenTheClassExistsAlready) {
  ProbeLog log;
  ProbeWnd probe(log);  // makes sure the class exists
  ASSERT_TRUE(probe.EnsureRegistered());
  ProbeLog twinLog;
  TwinWnd twin(twinLog);
  ASSERT_TRUE(twin.Create(0, WS_POPUP, nullptr, nullptr));
  EXPECT_FALSE(g_twinRegistered);
  EXPECT_EQ(SendMessageW(twin.GetHwnd(), WM_TIMER, 3, 0), 7);
  EXPECT_EQ(twinLog.timers, std::vector<WPARAM>{3});
}

TEST(CWndTest, HandledMessagesReturnTheHandlerResultOthersTakeTheDefaultPath) {
  ProbeLog log;
  ProbeWnd probe(log);
  ASSERT_TRUE(probe.Create(0, WS_POPUP, nullptr, nullptr));
  const HWND window = probe.GetHwnd();
  EXPECT_EQ(SendMessageW(window, WM_TIMER, 11, 0), 7);
  // DefWindowProcW keeps the text of a window: proof that WM_SETTEXT went the default way.
  EXPECT_TRUE(SetWindowTextW(window, L"default path"));
  wchar_t text[32] = {};
  GetWindowTextW(window, text, 32);
  EXPECT_STREQ(text, L"default path");
  EXPECT_TRUE(probe.Saw(WM_SETTEXT));
}

TEST(CWndTest, SetFontNeverReachesTheObject) {
  ProbeLog log;
  ProbeWnd probe(log);
  ASSERT_TRUE(probe.Create(0, WS_POPUP, nullptr, nullptr));
  const HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  EXPECT_EQ(SendMessageW(probe.GetHwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE), 0);
  EXPECT_FALSE(probe.Saw(WM_SETFONT));
  EXPECT_EQ(SendMessageW(probe.GetHwnd(), WM_GETFONT, 0, 0), 0);  // nobody stored it
}

TEST(CWndTest, CloseDestroysTheWindowThroughTheDefaultProcedure) {
  ProbeLog log;
  ProbeWnd probe(log);
  ASSERT_TRUE(probe.Create(0, WS_POPUP, nullptr, nullptr));
  const HWND window = probe.GetHwnd();
  SendMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(log.destroys, 1);
  EXPECT_TRUE(probe.Saw(WM_CLOSE));
  EXPECT_FALSE(probe.Saw(WM_NCDESTROY));  // after WM_DESTROY the link is gone
  EXPECT_EQ(probe.GetHwnd(), nullptr);    // no stale handle is kept
}

TEST(CWndTest, NcCreateResultDecidesCreation) {
  ProbeLog log;
  ProbeWnd probe(log);
  probe.ncCreateResult = 0;
  EXPECT_FALSE(probe.Create(0, WS_POPUP, nullptr, nullptr));
  EXPECT_EQ(probe.GetHwnd(), nullptr);
  EXPECT_EQ(CWnd::StaticWndProc(GetDesktopWindow(), WM_NCCREATE, 0, 0), 0);  // no CREATESTRUCT
}

LRESULT CALLBACK PreviousProcedure(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_USER + 1 ? 42 : 0;
}

TEST(CWndTest, UnhandledMessagesGoToAStoredPreviousProcedure) {
  ProbeLog log;
  ProbeWnd probe(log);
  ASSERT_TRUE(probe.Create(0, WS_POPUP, nullptr, nullptr));
  probe.SetPreviousWndProc(&PreviousProcedure);
  EXPECT_EQ(SendMessageW(probe.GetHwnd(), WM_USER + 1, 0, 0), 42);
  EXPECT_EQ(SendMessageW(probe.GetHwnd(), WM_TIMER, 1, 0), 7);
  probe.SetPreviousWndProc(nullptr);
}

TEST(CWndTest, AnAttachedWindowIsOnlyLetGo) {
  ProbeLog log;
  HWND window = nullptr;
  {
    ProbeWnd probe(log);
    EXPECT_FALSE(probe.Detach());  // not attached: nothing changes
    EXPECT_TRUE(probe.DetachIfAttached());
    ASSERT_TRUE(probe.Create(0, WS_POPUP, nullptr, nullptr));
    window = probe.GetHwnd();
    probe.SetAttached(true);
    probe.Destroy();
    EXPECT_EQ(probe.GetHwnd(), nullptr);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(GetPropW(window, kEntity), nullptr);
  }
  // The object is gone; the window must not lead to it any more.
  EXPECT_EQ(SendMessageW(window, WM_TIMER, 1, 0), 0);
  EXPECT_TRUE(DestroyWindow(window));
  EXPECT_EQ(log.destroys, 0);
}

TEST(CWndTest, DestructorDestroysTheWindowWithOnlyTheBaseInForce) {
  ProbeLog log;
  auto* probe = new ProbeWnd(log);
  ASSERT_TRUE(probe->Create(0, WS_POPUP, nullptr, nullptr));
  const HWND window = probe->GetHwnd();
  log.windowProc.clear();
  delete probe;
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(log.destroys, 0);           // the subclass's OnDestroy did not run
  EXPECT_TRUE(log.windowProc.empty());  // nor its WindowProc
}

TEST(CWndTest, AWindowWithoutObjectIsHandledByTheDefaultProcedure) {
  ProbeLog log;
  ProbeWnd probe(log);
  ASSERT_TRUE(probe.EnsureRegistered());
  const HWND window = CreateWindowExW(0, kProbeClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(GetPropW(window, kEntity), nullptr);
  EXPECT_EQ(SendMessageW(window, WM_SETFONT, 0, 0), 0);
  EXPECT_TRUE(DestroyWindow(window));
  EXPECT_TRUE(log.windowProc.empty());
}

// The class-name registry: objects made for windows created without one.
struct FactoryLog {
  std::vector<HWND> created;
  std::vector<CWnd*> destroyed;
  ProbeLog probe;
};
FactoryLog* g_factoryLog = nullptr;

CWnd* MakeProbe(HWND window) {
  g_factoryLog->created.push_back(window);
  return new ProbeWnd(g_factoryLog->probe);
}
CWnd* MakeNothing(HWND) {
  ADD_FAILURE() << "a later entry of the same name must not be asked";
  return nullptr;
}
void DeleteProbe(CWnd* object) {
  g_factoryLog->destroyed.push_back(object);
  delete object;
}

class WndRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { g_factoryLog = &log; }
  void TearDown() override {
    for (const WndFactoryEntry* entry : added) RemoveWndFactory(*entry);
    for (const std::wstring& name : classes) {
      UnregisterClassW(name.c_str(), GetModuleHandleW(nullptr));
    }
    g_factoryLog = nullptr;
  }
  void Add(const WndFactoryEntry& entry) {
    AddWndFactory(entry);
    added.push_back(&entry);
  }
  HWND CreateOfClass(const std::wstring& name) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &CWnd::StaticWndProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = name.c_str();
    if (RegisterClassExW(&windowClass) == 0) return nullptr;
    classes.push_back(name);
    return CreateWindowExW(0, name.c_str(), L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  }

  FactoryLog log;
  std::vector<const WndFactoryEntry*> added;
  std::vector<std::wstring> classes;
};

TEST_F(WndRegistryTest, TheFirstEntryOfTheClassNameMakesAndLaterDestroysTheObject) {
  static const WndFactoryEntry other{L"QuillonTest_Other", &MakeNothing, &DeleteProbe};
  static const WndFactoryEntry first{L"QuillonTest_Factory", &MakeProbe, &DeleteProbe};
  static const WndFactoryEntry second{L"QuillonTest_Factory", &MakeNothing, &DeleteProbe};
  Add(other);
  Add(first);
  Add(second);
  const HWND window = CreateOfClass(L"QuillonTest_Factory");
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(log.created, std::vector<HWND>{window});
  auto* object = static_cast<CWnd*>(GetPropW(window, kEntity));
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(SendMessageW(window, WM_TIMER, 9, 0), 7);
  EXPECT_EQ(log.probe.timers, std::vector<WPARAM>{9});
  EXPECT_TRUE(DestroyWindow(window));
  EXPECT_EQ(log.probe.destroys, 1);
  EXPECT_EQ(log.destroyed, std::vector<CWnd*>{object});
}

TEST_F(WndRegistryTest, ClassNamesAreComparedOnlyUpTo127Characters) {
  const std::wstring longName = L"QuillonTest_" + std::wstring(130 - 12, L'L');
  const std::wstring cut = longName.substr(0, 127);
  static WndFactoryEntry full{nullptr, &MakeNothing, &DeleteProbe};
  static WndFactoryEntry truncated{nullptr, &MakeProbe, &DeleteProbe};
  full.className = longName.c_str();
  Add(full);
  const HWND unmatched = CreateOfClass(longName);
  ASSERT_NE(unmatched, nullptr);
  EXPECT_EQ(GetPropW(unmatched, kEntity), nullptr);
  EXPECT_TRUE(log.created.empty());
  DestroyWindow(unmatched);

  truncated.className = cut.c_str();
  Add(truncated);
  const HWND matched = CreateWindowExW(0, longName.c_str(), L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                       nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(matched, nullptr);
  EXPECT_EQ(log.created, std::vector<HWND>{matched});
  DestroyWindow(matched);
  EXPECT_EQ(log.destroyed.size(), 1u);
}

TEST_F(WndRegistryTest, ARemovedEntryIsNoLongerFound) {
  static const WndFactoryEntry entry{L"QuillonTest_Removed", &MakeProbe, &DeleteProbe};
  AddWndFactory(entry);
  RemoveWndFactory(entry);
  const HWND window = CreateOfClass(L"QuillonTest_Removed");
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(GetPropW(window, kEntity), nullptr);
  DestroyWindow(window);
  EXPECT_TRUE(log.created.empty());
}

// Anybody can send a live window WM_NCCREATE, and the system hands the sender's creation
// parameter on. Only the object whose Create is making the window may be bound by it.
TEST(CWndTest, AWmNcCreateToALiveWindowBindsNoObject) {
  ProbeLog log, otherLog;
  ProbeWnd probe(log);
  ProbeWnd other(otherLog);
  ASSERT_TRUE(probe.Create(0, WS_POPUP, nullptr, nullptr));
  const HWND window = probe.GetHwnd();
  for (void* parameter : {static_cast<void*>(static_cast<CWnd*>(&other)), static_cast<void*>(&log),
                          static_cast<void*>(nullptr)}) {
    CREATESTRUCTW create{};
    create.lpCreateParams = parameter;
    SendMessageW(window, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create));
    EXPECT_EQ(GetPropW(window, kEntity), static_cast<CWnd*>(&probe));
    EXPECT_EQ(probe.GetHwnd(), window);
  }
  EXPECT_EQ(other.GetHwnd(), nullptr);
  EXPECT_TRUE(otherLog.windowProc.empty());
  // A window of the class made without Create takes no object from its creation parameter.
  const HWND stray = CreateWindowExW(0, kProbeClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                     GetModuleHandleW(nullptr), static_cast<CWnd*>(&other));
  ASSERT_NE(stray, nullptr);
  EXPECT_EQ(GetPropW(stray, kEntity), nullptr);
  EXPECT_EQ(other.GetHwnd(), nullptr);
  DestroyWindow(stray);
}

// A window procedure may make another framework window while its own is being created: each
// Create binds its own object, and the outer one still gets its window afterwards.
class NestingWnd : public ProbeWnd {
 public:
  NestingWnd(ProbeLog& log, ProbeWnd& inner) : ProbeWnd(log), inner_(inner) {}
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_CREATE) innerCreated = inner_.Create(0, WS_POPUP, nullptr, nullptr);
    return ProbeWnd::WindowProc(message, wParam, lParam);
  }
  bool innerCreated = false;

 private:
  ProbeWnd& inner_;
};

TEST(CWndTest, AWindowCreatedDuringAnothersCreationBindsItsOwnObject) {
  ProbeLog outerLog, innerLog;
  ProbeWnd inner(innerLog);
  NestingWnd outer(outerLog, inner);
  ASSERT_TRUE(outer.Create(0, WS_POPUP, nullptr, nullptr));
  ASSERT_TRUE(outer.innerCreated);
  EXPECT_NE(outer.GetHwnd(), inner.GetHwnd());
  EXPECT_EQ(GetPropW(outer.GetHwnd(), kEntity), static_cast<CWnd*>(&outer));
  EXPECT_EQ(GetPropW(inner.GetHwnd(), kEntity), static_cast<CWnd*>(&inner));
}

}  // namespace
}  // namespace quillon
