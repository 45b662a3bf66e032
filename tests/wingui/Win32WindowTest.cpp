// The desktop program's window on Windows (under Wine with a virtual X server): its fixed size and
// caption, the advisory dialog's answers, and a whole update clicked through the three pages
// against the product emulator on a COM port, to "Running target application" and the
// reconnection, with pictures of each page in <build>/screenshots.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/Main.h"
#include "devices/WindowsPorts.h"
#include "serial/ComPort.h"
#include "serial/Ticks.h"
#include "serial/Win32Dispatcher.h"
#include "serial/Win32MessagePump.h"
#include "serial/Win32Text.h"
#include "support/Fakes.h"
#include "support/TempDir.h"
#include "wingui/Win32Services.h"
#include "wingui/Win32Window.h"

namespace tarvex::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kSettingsKey = "Software\\Tarvex Ltd\\Tarvex Flash Programer\\1.20.0.0";

// An environment variable in UTF-8 (the narrow getenv would give the ANSI code page's).
std::optional<std::string> Env(const wchar_t* name) {
  const wchar_t* v = _wgetenv(name);
  if (v == nullptr) return std::nullopt;
  return Utf8FromWide(v);
}

std::string ScreenshotPath(const std::string& name) {
  std::filesystem::create_directories(PathOf(TARVEX_SCREENSHOT_DIR));
  return std::string(TARVEX_SCREENSHOT_DIR) + "/" + name;
}

// Answers the program's modal boxes as a user would, from a thread of its own: each visible dialog
// of this process is noted (its text) and given its answer (OK unless told otherwise).
class BoxAnswerer {
 public:
  BoxAnswerer() : thread_([this] { Run(); }) {}
  ~BoxAnswerer() {
    stop_ = true;
    thread_.join();
  }
  std::vector<std::string> Seen() {
    std::lock_guard lock(m_);
    return seen_;
  }
  // Returns true when it dealt with the dialog; default: press OK.
  std::function<bool(HWND)> answer;

 private:
  void Run() {
    while (!stop_) {
      EnumWindows(
          [](HWND hwnd, LPARAM self) -> BOOL {
            reinterpret_cast<BoxAnswerer*>(self)->Look(hwnd);
            return TRUE;
          },
          reinterpret_cast<LPARAM>(this));
      std::this_thread::sleep_for(20ms);
    }
  }
  void Look(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(hwnd)) return;
    wchar_t cls[64] = {};
    GetClassNameW(hwnd, cls, 64);
    const std::wstring c(cls);
    if (c != L"#32770" && c != L"TarvexAdvisory") return;
    if (answered_ == hwnd) return;
    answered_ = hwnd;
    wchar_t text[1024] = {};
    GetDlgItemTextW(hwnd, 0xFFFF, text, 1024);  // a message box's text
    {
      std::lock_guard lock(m_);
      seen_.push_back(c == L"#32770" ? Utf8FromWide(text) : std::string("advisory"));
    }
    if (answer && answer(hwnd)) return;
    PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
  }

  std::atomic<bool> stop_{false};
  HWND answered_ = nullptr;
  std::mutex m_;
  std::vector<std::string> seen_;
  std::thread thread_;
};

class Win32Window : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetGlobals();
    SetUiMessagePump(&pump);
    fakes.settings.SetInt(kSettingsKey, "Show UDL Message", 0);
    folders.base = temp.Path();
  }
  void TearDown() override {
    if (window) {
      form->FlashInProgress = false;
      window->Close();
    }
    window.reset();
    form.reset();
    port.SetOpen(false);
    SetUiMessagePump(nullptr);
    ResetGlobals();
  }
  void Start() {
    TPlatform p = fakes.Get();
    p.Folders = &folders;
    p.MessageBoxes = &boxes;
    p.Ports = &ports;
    p.Pump = &pump;
    p.ComPort = &port;
    port.Baud = 115200;
    port.AutoOpen = false;
    port.PromptForPort = false;
    port.DevicePath = [](int n) { return std::optional<std::string>(TSerWin32Dispatcher::DevicePathOf(n)); };
    form = std::make_unique<TfrmMain>(p, std::vector<std::string>{});
    window = std::make_unique<TWin32MainWindow>(*form);
    ASSERT_TRUE(window->Create());
    boxes.SetOwner(window->Handle());
    window->Show();
    Pump(200ms);
  }
  // Handles the program's and the system's messages for a while, or until done.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pump.WaitForMessage(std::chrono::steady_clock::now() + 10ms);
      while (pump.PumpOne() == 1) {
      }
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    return true;
  }
  void Pump(std::chrono::milliseconds d) {
    const auto until = std::chrono::steady_clock::now() + d;
    PumpUntil([&] { return std::chrono::steady_clock::now() > until; }, d + 1s);
  }
  HWND Control(const std::string& name) { return window->ControlWindow(name); }
  // A press of the button, as the mouse gives it (ignored by a disabled or hidden button).
  void Click(const std::string& name) {
    SendMessageW(Control(name), BM_CLICK, 0, 0);
    Pump(50ms);
  }
  void Picture(const std::string& name) {
    RedrawWindow(window->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Pump(100ms);
    EXPECT_TRUE(window->SaveScreenshot(ScreenshotPath(name))) << name;
  }

  TWin32MessagePump pump;
  FakePlatform fakes;
  TempDir temp{"tarvex-wingui"};
  RealFolders folders;
  TWin32MessageBoxes boxes;
  WindowsPorts ports;
  TSerComPort port;
  std::unique_ptr<TfrmMain> form;
  std::unique_ptr<TWin32MainWindow> window;
};

TEST_F(Win32Window, AFixedSizeWindowWithTheProgramsCaption) {
  Start();
  RECT rc{};
  GetClientRect(window->Handle(), &rc);
  EXPECT_EQ(rc.right - rc.left, 690);
  EXPECT_EQ(rc.bottom - rc.top, 425);
  const LONG style = GetWindowLongW(window->Handle(), GWL_STYLE);
  EXPECT_EQ(style & WS_THICKFRAME, 0);
  EXPECT_EQ(style & WS_MAXIMIZEBOX, 0);
  wchar_t caption[64] = {};
  GetWindowTextW(window->Handle(), caption, 64);
  EXPECT_EQ(Utf8FromWide(caption), "Flash Programmer");
  // Only a visible, enabled control is pressed: Next is off on the first page.
  Click("btnNext");
  EXPECT_EQ(form->ActivePageIndex(), 0);
  form->ProductReady = true;
  form->UpdateWizard();
  Click("btnNext");
  EXPECT_EQ(form->ActivePageIndex(), 1);
  EXPECT_FALSE(IsWindowVisible(Control("cbComPort")));
  EXPECT_TRUE(IsWindowVisible(Control("btnOpenHex")));
}

TEST_F(Win32Window, TheAdvisoryDialogTurnsOffOnlyWithItsBoxTickedAndClose) {
  Start();
  BoxAnswerer answerer;
  answerer.answer = [](HWND dialog) {
    SendMessageW(GetDlgItem(dialog, 102), BM_CLICK, 0, 0);  // "Do not show this message again"
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    return true;
  };
  TfrmUDLMessage ticked(window->Handle(), nullptr);
  RECT rc{};
  GetClientRect(ticked.Handle(), &rc);
  EXPECT_GT(rc.bottom, 200);
  EXPECT_TRUE(ticked.GetUDLMessageOpts());
  answerer.answer = [](HWND dialog) {
    SendMessageW(GetDlgItem(dialog, 102), BM_CLICK, 0, 0);
    PostMessageW(dialog, WM_CLOSE, 0, 0);  // the close box keeps the dialog for the next start
    return true;
  };
  TfrmUDLMessage closeBox(window->Handle(), nullptr);
  EXPECT_FALSE(closeBox.GetUDLMessageOpts());
  // Its picture, for anyone to look at.
  TfrmUDLMessage shown(window->Handle(), nullptr);
  ShowWindow(shown.Handle(), SW_SHOW);
  Pump(300ms);
  EXPECT_TRUE(SaveWindowPicture(shown.Handle(), ScreenshotPath("win-advisory.png")));
  wchar_t caption[64] = {};
  GetWindowTextW(shown.Handle(), caption, 64);
  EXPECT_EQ(Utf8FromWide(caption), "Important, Please Read ");
}

// A whole update through the three pages against the emulator on the COM port the Windows stage
// gives (TARVEX_TEST_SIM_COM), with the firmware it gives (TARVEX_TEST_FIRMWARE).
TEST_F(Win32Window, AWholeUpdateClickedThroughThePagesAndTheReconnection) {
  const auto com = Env(L"TARVEX_TEST_SIM_COM");
  const auto firmware = Env(L"TARVEX_TEST_FIRMWARE");
  if (!com || !firmware) GTEST_SKIP() << "no emulator on a COM port; run scripts/windows-stage";
  Start();
  BoxAnswerer answerer;
  const std::string name = "COM" + *com;
  const auto& items = form->cbComPort.Items();
  const auto it = std::find(items.begin(), items.end(), name);
  ASSERT_NE(it, items.end()) << name << " is not in the port list";
  const HWND combo = Control("cbComPort");
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(it - items.begin()), 0);
  SendMessageW(window->Handle(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo));
  EXPECT_EQ(form->cbComPort.SelectedText(), name);
  Picture("win-page1-before.png");

  Click("btnConnect");
  ASSERT_TRUE(PumpUntil([&] { return form->ProductReady; }))
      << (answerer.Seen().empty() ? "" : answerer.Seen()[0]);
  Picture("win-page1-connected.png");

  Click("btnNext");
  fakes.dialog.answer = *firmware;
  Click("btnOpenHex");
  ASSERT_TRUE(PumpUntil([] { return FileReady; }))
      << *firmware << (answerer.Seen().empty() ? "" : answerer.Seen().back());
  Picture("win-page2-file.png");

  Click("btnNext");
  Picture("win-page3-before.png");
  Click("btnStart");
  EXPECT_TRUE(form->FlashInProgress);
  // Closing is refused while the update runs.
  SendMessageW(window->Handle(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(window->Closed());
  ASSERT_TRUE(PumpUntil([&] {
    return form->progBar.Visible() && form->progBar.Position() > 3 && form->lbWriteData.Visible();
  }));
  Picture("win-page3-during.png");
  ASSERT_TRUE(PumpUntil([&] { return form->FlashDone; }, 60000ms))
      << (answerer.Seen().empty() ? "" : answerer.Seen()[0]);
  EXPECT_TRUE(IsWindowVisible(Control("imgRunApp")));
  EXPECT_EQ(form->lbVerifyData.Caption(), "Verifying flash data...OK");
  Picture("win-page3-after.png");

  // The lead comes back: the system's device notifications, twice, and the program reconnects.
  ASSERT_TRUE(PumpUntil([&] { return !port.Open(); }));
  for (int i = 0; i < 2; ++i) pump.Post([this] { form->USBComp->Notify(TUsbDeviceEvent{}); });
  ASSERT_TRUE(PumpUntil(
      [&] { return form->lbSoftwareVer.Caption() == form->lbFileVersion.Caption() && !CommsJob; }, 30000ms));
  ASSERT_TRUE(PumpUntil([&] { return !answerer.Seen().empty(); }, 5000ms));
  EXPECT_EQ(answerer.Seen().back().substr(0, 40), "It is highly recommended after a firmwar");
  Click("btnBack");
  Click("btnBack");
  Picture("win-page1-after.png");
}

}  // namespace
}  // namespace tarvex::test
