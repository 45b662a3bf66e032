// `tarvex-flash flash` in the test process: the window's whole flow against the product emulator
// behind an in-memory port whose events come through the message pump and whose timers run on an
// accelerated tick clock.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FlashCommandFixture.h"
#include "bootloader/BootFrames.h"
#include "cli/Cli.h"
#include "cli/FlashCommand.h"
#include "core/Globals.h"
#include "firmware/HexBuilder.h"
#include "link/ComsTasks.h"
#include "support/Fakes.h"

namespace tarvex {
namespace {

using std::string;
using std::vector;

TEST_F(FlashCommand, FullUpdatePrintsProductFileRowsProgressAndTheLog) {
  const Result r = FlashFile("fw.hex", {"--verbose"});
  ASSERT_EQ(r.code, cli::kExitOk) << r.out << r.err;
  EXPECT_TRUE(FlashMatchesFile());
  EXPECT_FALSE(sim->InBootloader());

  // Identity, file, the five rows in order, then the summary.
  const vector<string> ordered{"Product on COM7:",
                               "  Product Type: PX-22",
                               "  Software Version: 1.00",
                               "  Microcontroller: ST Microelectronics",
                               "Firmware file:",
                               "  Flash File: " + Path("fw.hex"),
                               "  Product Type: PX-22",
                               "  Version: 2.05",
                               "Selecting flash upgrade mode.... OK",
                               "Erasing flash memory pages.... OK",
                               "Writing new flash data... OK",
                               "Verifying flash data...OK",
                               "Running target application: OK",
                               "Update complete: firmware 2.05 started."};
  const vector<string> lines = r.OutLines();
  auto from = lines.begin();
  for (const string& l : ordered) {
    from = std::find(from, lines.end(), l);
    ASSERT_NE(from, lines.end()) << "missing or out of order: " << l << "\n" << r.out;
  }
  EXPECT_EQ(r.out.find('\r'), string::npos) << "not a terminal: no bar drawn in place";
  // The whole update's share and the time left (two pages erased count as two blocks).
  EXPECT_NE(r.out.find("\nWriting new flash data... 16/16 (100%), update 52%, about 0:0"), string::npos)
      << r.out;

  // Standard error holds the debug log and nothing else: no box was shown.
  vector<string> debug;
  for (const string& l : r.ErrLines()) {
    ASSERT_EQ(l.rfind("debug: ", 0), 0u) << "not a log line: " << l;
    debug.push_back(l.substr(7));
  }
  const auto first = std::find(debug.begin(), debug.end(), "Connected to Target");
  ASSERT_NE(first, debug.end());
  EXPECT_EQ(debug.back(), "Target running");
  EXPECT_EQ(std::count(first, debug.end(), "Written 256 bytes"), 16);
  EXPECT_EQ(std::count(first, debug.end(), "Read Data: 256 bytes"), 16);
  // Nothing remembered: no settings file, the installer's port stays as it was.
  EXPECT_FALSE(fs::exists(dir / "config"));
  EXPECT_TRUE(fs::is_directory(LogsFolderPath()));
}

TEST_F(FlashCommand, FailedVerifyStillStartsTheTargetAndPointsAtTheReport) {
  TProductConfig cfg;
  cfg.Faults.FlipAddress = 0x08000900;
  const Result r = FlashFile("fw.hex", {}, cfg);
  EXPECT_EQ(r.code, cli::kExitVerifyFailed) << r.out << r.err;
  EXPECT_TRUE(r.OutHas("Verifying flash data...FAILED!"));
  EXPECT_TRUE(r.OutHas("Running target application: OK"));
  const string report = LogsFolderPath() + kPathSep + "Verification Data.txt";
  EXPECT_TRUE(fs::exists(report));
  EXPECT_NE(r.err.find("differences are in " + report), string::npos) << r.err;
  EXPECT_FALSE(r.OutHas("Update complete: firmware 2.05 started."));
}

TEST_F(FlashCommand, NoVerifySkipsTheReadBackAndSucceeds) {
  const Result r = FlashFile("fw.hex", {"--no-verify"});
  ASSERT_EQ(r.code, cli::kExitOk) << r.err;
  EXPECT_TRUE(r.OutHas("Verification not performed!"));
  EXPECT_TRUE(FlashMatchesFile());
}

TEST_F(FlashCommand, WaitReconnectPrintsTheNewIdentity) {
  const Result r = FlashFile("fw.hex", {"--wait-reconnect"});
  ASSERT_EQ(r.code, cli::kExitOk) << r.out << r.err;
  const vector<string> lines = r.OutLines();
  const auto after = std::find(lines.begin(), lines.end(), "Product after the update:");
  ASSERT_NE(after, lines.end()) << r.out;
  EXPECT_TRUE(Result::Has({after, lines.end()}, "  Software Version: 2.05"));
  // A control panel: the window's advice after an update comes out as a box line.
  EXPECT_NE(r.err.find("Information: It is highly recommended after a firmware upgrade"), string::npos)
      << r.err;
}

TEST_F(FlashCommand, PortProblems) {
  {
    const Result r = Flash({"--port", "COM9", "--file", Path("fw.hex")});
    EXPECT_EQ(r.code, cli::kExitPort);
    EXPECT_NE(r.err.find("COM9 is not among the serial ports (COM3, COM7)"), string::npos) << r.err;
  }
  {
    portMissing = true;
    const Result r = FlashFile("fw.hex");
    portMissing = false;
    EXPECT_EQ(r.code, cli::kExitPort);
    EXPECT_TRUE(r.ErrHas("Com port does not exist")) << r.err;
  }
  {
    TProductConfig cfg;
    cfg.Faults.Silent = true;
    const Result r = FlashFile("fw.hex", {}, cfg);
    EXPECT_EQ(r.code, cli::kExitPort);
    EXPECT_NE(r.err.find("no answer from a product on COM7"), string::npos) << r.err;
  }
  {
    // A box from the device, not from the product: still the port's fault.
    TProductConfig cfg;
    cfg.Faults.Silent = true;
    deviceError = true;
    const std::uint32_t start = CurrentTick();
    const Result r = FlashFile("fw.hex", {}, cfg);
    deviceError = false;
    EXPECT_EQ(r.code, cli::kExitPort);
    EXPECT_TRUE(r.ErrHas("Error: Device read error")) << r.err;
    // At once, not after the link's three transmissions to a port that can no longer answer.
    EXPECT_NE(r.err.find("the connection to COM7 was lost"), string::npos) << r.err;
    EXPECT_LT(CurrentTick() - start, 36u);
  }
}

TEST_F(FlashCommand, AProductThatNeverGetsReadyEndsAtTheDeadline) {
  TProductConfig cfg;
  cfg.Faults.NotReadyCount = 1000000;
  identifyTicks = 200;
  const std::uint32_t start = CurrentTick();
  const Result r = FlashFile("fw.hex", {}, cfg);
  EXPECT_EQ(r.code, cli::kExitPort) << r.err;
  EXPECT_NE(r.err.find("did not identify itself"), string::npos) << r.err;
  EXPECT_LT(CurrentTick() - start, 400u);
}

TEST_F(FlashCommand, RefusedProductOrFile) {
  {
    TProductConfig cfg;
    cfg.NvmLocked = true;
    const Result r = FlashFile("fw.hex", {}, cfg);
    EXPECT_EQ(r.code, cli::kExitProductRefused);
    EXPECT_TRUE(r.OutHas("  Product Type: PX-22")) << r.out;
    EXPECT_NE(r.err.find("Error: The Control Panel cannot be flashed whilst the NVM is locked."),
              string::npos);
  }
  {
    TProductConfig cfg;
    cfg.Faults.AccessError = 4;
    const Result r = FlashFile("fw.hex", {}, cfg);
    EXPECT_EQ(r.code, cli::kExitProductRefused) << r.err;
  }
  {
    WriteFile("keypad.hex", test::FullImageHex(2, 7, 2, 5));
    const Result r = FlashFile("keypad.hex");
    EXPECT_EQ(r.code, cli::kExitFileRefused);
    EXPECT_TRUE(r.OutHas("  Product Type: QL-2B")) << r.out;
    EXPECT_NE(r.err.find("Error: "), string::npos);
    EXPECT_FALSE(sim->InBootloader());
  }
  {
    const Result r = FlashFile("missing.hex");
    EXPECT_EQ(r.code, cli::kExitFileRefused);
    EXPECT_NE(r.err.find("Error: Error reading file\nmissing.hex: the file does not exist"), string::npos)
        << r.err;
    EXPECT_FALSE(sim->InBootloader());
  }
}

TEST_F(FlashCommand, FailedUpdates) {
  {
    TProductConfig cfg;
    cfg.Faults.SilentCommand = kCmdErase;
    cfg.Faults.SilentCount = 1000;
    const Result r = FlashFile("fw.hex", {}, cfg);
    EXPECT_EQ(r.code, cli::kExitUpdateFailed);
    EXPECT_TRUE(r.ErrHas("Error: No bootloader response from product.")) << r.err;
    EXPECT_FALSE(r.OutHas("Erasing flash memory pages.... OK"));
  }
  {
    TProductConfig cfg;
    cfg.Faults.NackCommand = kCmdWrite;
    cfg.Faults.NackCount = 5;
    const Result r = FlashFile("fw.hex", {}, cfg);
    EXPECT_EQ(r.code, cli::kExitUpdateFailed);
    EXPECT_TRUE(r.ErrHas("Error: NACK Response from Target")) << r.err;
    EXPECT_TRUE(r.OutHas("Erasing flash memory pages.... OK"));
  }
}

TEST_F(FlashCommand, AnUpdateThatStopsWithoutGivingUpEndsAtTheWatch) {
  // The boot loader goes quiet and the port never reports its reply timer: the window would wait
  // for ever, the command ends once nothing has happened for the stall time.
  TProductConfig cfg;
  cfg.Faults.SilentCommand = kCmdWrite;
  cfg.Faults.SilentCount = 1000;
  deadTimers = true;
  stallTicks = 100;
  const std::uint32_t start = CurrentTick();
  const Result r = FlashFile("fw.hex", {}, cfg);
  EXPECT_EQ(r.code, cli::kExitUpdateFailed);
  EXPECT_NE(r.err.find("no block, page or step advanced"), string::npos) << r.err;
  EXPECT_TRUE(r.OutHas("Erasing flash memory pages.... OK"));
  EXPECT_LT(CurrentTick() - start, 300u);
}

// A slow update that keeps moving is never abandoned, however long it takes in all.
TEST_F(FlashCommand, AnUpdateThatKeepsMovingIsNeverAbandoned) {
  TProductConfig cfg;
  cfg.WriteMs = 3000;  // about 55 ticks a block: slow, yet well within the 90-tick time-out
  stallTicks = 100;
  const Result r = FlashFile("fw.hex", {"--no-verify"}, cfg);
  EXPECT_EQ(r.code, cli::kExitOk) << r.err;
  EXPECT_TRUE(FlashMatchesFile());
}

// Ctrl-C while the flash is being written warns and goes on; a second one within 5 s, or a
// SIGTERM, stops cleanly and says where; before the erase Ctrl-C stops at once.
TEST_F(FlashCommand, StopRequestsAreDecisionsNotAccidents) {
  int requests = 0;
  stopRequest = [&] {
    if (requests == 0 && WritesSent() >= 3) return ++requests, static_cast<int>(cli::kExitInterrupted);
    return 0;
  };
  Result r = FlashFile("fw.hex");
  EXPECT_EQ(r.code, cli::kExitOk) << r.err;
  EXPECT_NE(r.err.find("Press Ctrl-C again within 5 s"), string::npos) << r.err;
  EXPECT_TRUE(FlashMatchesFile());

  for (const int second : {static_cast<int>(cli::kExitInterrupted), static_cast<int>(cli::kExitTerminated)}) {
    requests = 0;
    stopRequest = [&] {
      if (requests == 0 && WritesSent() >= 3) return ++requests, static_cast<int>(cli::kExitInterrupted);
      if (requests == 1 && WritesSent() >= 4) return ++requests, second;
      return 0;
    };
    r = FlashFile("fw.hex");
    EXPECT_EQ(r.code, second) << r.err;
    const auto lines = r.ErrLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("Writing new flash data"), string::npos) << lines.back();
    EXPECT_NE(lines.back().find("waits in its boot loader"), string::npos) << lines.back();
    EXPECT_TRUE(sim->InBootloader());
  }

  stopRequest = [] { return static_cast<int>(cli::kExitInterrupted); };
  r = FlashFile("fw.hex");
  EXPECT_EQ(r.code, cli::kExitInterrupted);
  EXPECT_NE(r.err.find("interrupted before anything was written"), string::npos) << r.err;
  EXPECT_FALSE(sim->InBootloader());
}

TEST_F(FlashCommand, Usage) {
  EXPECT_EQ(Flash({"--port", "COM7"}).code, cli::kExitUsage);
  EXPECT_EQ(Flash({"--port", "ttyUSB0", "--file", "x.hex"}).code, cli::kExitUsage);
  EXPECT_EQ(Flash({"--port", "COM7", "--file", "a.hex", "b.hex"}).code, cli::kExitUsage);
  EXPECT_EQ(Flash({"--port", "COM7", "--file", "a.hex", "--manual"}).code, cli::kExitUsage);
  const Result help = Flash({"--help"});
  EXPECT_EQ(help.code, cli::kExitOk);
  for (int code : {3, 4, 5, 6, 7, 8, 130, 143}) {
    EXPECT_NE(help.out.find("\n  " + std::to_string(code) + "  "), string::npos) << code;
  }
  // A lower-case port name is the same port.
  EXPECT_EQ(Flash({"--port", "com7", "--file", Path("fw.hex"), "--no-verify"}).code, cli::kExitOk);
}

}  // namespace
}  // namespace tarvex
