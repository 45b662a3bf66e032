// The fixture of the `tarvex-flash flash` tests: the command in the test process against the
// product emulator behind an in-memory port, on an accelerated tick clock, with real data folders
// in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/FlashCommand.h"
#include "cli/SimComPort.h"
#include "core/Globals.h"
#include "firmware/FlashImage.h"
#include "firmware/HexBuilder.h"
#include "support/Fakes.h"

namespace tarvex {

namespace fs = std::filesystem;
using panelsim::TPanelSim;
using panelsim::TProductConfig;

struct Result {
  int code = -1;
  std::string out;
  std::string err;
  [[nodiscard]] std::vector<std::string> OutLines() const { return Split(out); }
  [[nodiscard]] std::vector<std::string> ErrLines() const { return Split(err); }
  static std::vector<std::string> Split(const std::string& s) {
    std::vector<std::string> lines;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  [[nodiscard]] bool OutHas(const std::string& line) const { return Has(OutLines(), line); }
  [[nodiscard]] bool ErrHas(const std::string& line) const { return Has(ErrLines(), line); }
  static bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
};

class FlashCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetGlobals();
    temp = std::make_unique<test::TempDir>("tarvex-cli");
    dir = fs::u8path(temp->Path());
    folders.base = (dir / "data").string();
    fs::create_directories(dir / "data");
    SetTickClock(&clock);
    ports.names = {"COM3", "COM7"};
    WriteFile("fw.hex", test::FullImageHex(2, 120, 2, 5));
  }
  void TearDown() override {
    SetTickClock(nullptr);
    ResetGlobals();
    temp.reset();
  }

  void WriteFile(const std::string& name, const std::string& text) const {
    std::ofstream(dir / name, std::ios::binary) << text;
  }
  [[nodiscard]] std::string Path(const std::string& name) const { return (dir / name).string(); }

  Result Flash(std::vector<std::string> args, TProductConfig cfg = {}) {
    // The same product again (it remembers its flash and its boot loader), or a fresh one.
    if (!keepSim || !sim) sim = std::make_unique<TPanelSim>(cfg);
    cli::TFlashServices services;
    services.Ports = &ports;
    services.MakeComPort = [this](const cli::TPortContext& /*context*/) {
      auto p = std::make_unique<test::SimComPort>(*sim, clock, &usb);
      p->missing = portMissing;
      p->deadTimers = deadTimers;
      p->onWrite = onWrite;
      if (deviceError) {
        // The device thread fails as the port opens; the component tells it on the UI thread.
        p->onOpen = [raw = p.get()] {
          UiMessagePump()->Post([raw] {
            if (raw->OnThreadError) raw->OnThreadError("Device read error");
          });
        };
      }
      port = p.get();
      return p;
    };
    services.MakeUsbBackend = [this] { return std::make_unique<test::SimUsbHandle>(usb); };
    services.TakeStopRequest = stopRequest;
    services.Folders = &folders;
    services.Settings = &settings;
    services.IdentifyTicks = identifyTicks;
    services.StallTicks = stallTicks;
    args.insert(args.begin(), "flash");
    Result r = Run(args, services);
    port = nullptr;
    return r;
  }
  static Result Run(const std::vector<std::string>& args, const cli::TFlashServices& services) {
    std::ostringstream out;
    std::ostringstream err;
    Result r;
    r.code = cli::RunCli(args, out, err, services);
    r.out = out.str();
    r.err = err.str();
    return r;
  }
  // Another command, with the same data folders.
  Result Cli(std::vector<std::string> args) {
    cli::TFlashServices services;
    services.Folders = &folders;
    services.Settings = &settings;
    services.Ports = &ports;
    services.MakeComPort = [this](const cli::TPortContext& /*context*/) {
      if (!sim) sim = std::make_unique<TPanelSim>(TProductConfig{});
      auto p = std::make_unique<test::SimComPort>(*sim, clock, &usb);
      p->onWrite = onWrite;
      port = p.get();
      return p;
    };
    return Run(args, services);
  }
  Result FlashFile(const std::string& file, std::vector<std::string> extra = {}, TProductConfig cfg = {}) {
    std::vector<std::string> args{"--port", "COM7", "--file", Path(file)};
    args.insert(args.end(), extra.begin(), extra.end());
    return Flash(args, cfg);
  }

  // The emulator's flash holds the file's image in every page the file uses.
  [[nodiscard]] bool FlashMatchesFile() const {
    bool any = false;
    for (std::uint32_t p = 0; p < FileMemory.size(); ++p) {
      if (!FileMemory[p].InUse) continue;
      any = true;
      if (sim->Flash().compare(p * kPageSize, kPageSize, reinterpret_cast<const char*>(FileMemory[p].Data),
                               kPageSize) != 0) {
        return false;
      }
    }
    return any;
  }
  // As the program forms it, with the system's separator.
  [[nodiscard]] std::string LogsFolderPath() const {
    const std::string sep(1, kPathSep);
    return (dir / "data").string() + sep + "Tarvex Ltd" + sep + "Flash Programmer" + sep + "Logs";
  }

  test::FastClock clock{20};
  test::FakePorts ports;
  test::SimUsbBackend usb;
  std::unique_ptr<TPanelSim> sim;
  test::SimComPort* port = nullptr;
  bool portMissing = false;
  bool deadTimers = false;
  bool deviceError = false;
  std::int32_t identifyTicks = 1091;
  std::int32_t stallTicks = 5 * 90 + 18;
  std::function<int()> stopRequest;
  std::function<void(test::SimComPort&, const std::string&)> onWrite;
  // WRITE commands the port has carried (counted on the user-interface thread).
  [[nodiscard]] int WritesSent() const {
    return port == nullptr ? 0
                           : static_cast<int>(std::count(port->written.begin(), port->written.end(),
                                                         std::string("\x31\xCE", 2)));
  }
  fs::path dir;
  std::unique_ptr<test::TempDir> temp;
  test::RealFolders folders;
  test::FakeSettingsStore settings;
  bool keepSim = false;
};

}  // namespace tarvex
