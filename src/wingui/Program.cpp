#include "wingui/Program.h"

#include <fstream>

#include "app/Main.h"
#include "app/platform/SystemServices.h"
#include "serial/ComPort.h"
#include "serial/Ticks.h"
#include "serial/Win32MessagePump.h"
#include "serial/Win32Text.h"
#include "wingui/Win32Services.h"
#include "wingui/Win32Window.h"

namespace tarvex {

namespace {

constexpr UINT_PTR kSnapshotTimer = 1;

// One line per control: name, visible/hidden, enabled/disabled, caption.
void WriteControlStates(const TfrmMain& form, const std::string& path) {
  std::ofstream out(PathOf(path), std::ios::binary | std::ios::trunc);
  for (const TControl* c : form.VM.Controls()) {
    out << c->Name() << (c->Visible() ? " visible" : " hidden") << (c->Enabled() ? " enabled" : " disabled")
        << " \"" << c->Caption() << "\"\n";
  }
}

}  // namespace

int RunWin32DesktopProgram(const std::vector<std::string>& all) {
  std::vector<std::string> args;
  std::string snapshotDir;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i] == "--snapshot" && i + 1 < all.size()) {
      snapshotDir = all[++i];
      continue;
    }
    args.push_back(all[i]);
  }

  TSystemServices system = MakeSystemServices();
  if (system.DebugOutput) SetDebugOutput(system.DebugOutput.get());
  TWin32MessagePump pump;
  SetUiMessagePump(&pump);
  TWin32MessageBoxes boxes;
  TWin32FileDialog fileDialog;
  TWin32AdvisoryDialog advisory(system.Shell.get());

  TPlatform platform;
  platform.Settings = system.Settings.get();
  platform.Folders = system.Folders.get();
  platform.MessageBoxes = &boxes;
  platform.FileDialog = &fileDialog;
  platform.Shell = system.Shell.get();
  platform.Ports = system.Ports.get();
  platform.Advisory = snapshotDir.empty() ? &advisory : nullptr;
  TFileUpdateHistory history;
  platform.History = &history;
  platform.Pump = &pump;
  platform.UsbBackend = system.UsbBackend;
  TSerComPort comPort;
  comPort.Baud = 115200;
  comPort.AutoOpen = false;
  comPort.PromptForPort = false;
  comPort.DevicePath = system.DevicePath;
  platform.ComPort = &comPort;

  int rc = 0;
  {
    TfrmMain form(platform, args);
    TWin32MainWindow window(form);
    if (!window.Create()) return 1;
    boxes.SetOwner(window.Handle());
    fileDialog.SetOwner(window.Handle());
    advisory.SetOwner(window.Handle());
    pump.SetDialogWindow(reinterpret_cast<std::uintptr_t>(window.Handle()));
    window.Show();
    if (!snapshotDir.empty()) {
      // Once the window has been drawn: its picture and its controls, then the end.
      CreateDirectoryW(WideFromUtf8(snapshotDir).c_str(), nullptr);
      MSG msg;
      for (int i = 0; i < 50 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      RedrawWindow(window.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
      window.SaveScreenshot(snapshotDir + "\\window.png");
      WriteControlStates(form, snapshotDir + "\\controls.txt");
      window.Close();
      (void)kSnapshotTimer;
    } else {
      rc = pump.Run();
    }
    if (!window.Closed()) window.Close();
  }
  comPort.SetOpen(false);
  SetUiMessagePump(nullptr);
  SetDebugOutput(nullptr);
  return rc;
}

}  // namespace tarvex
