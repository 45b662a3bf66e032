// A small in-memory boot loader for the programmer's tests: it takes the frames the programmer
// writes to a FakeComPort, answers them the way the product's boot loader does, and keeps a flash
// array that the tests compare with the file image.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/Main.h"
#include "core/Globals.h"
#include "firmware/FlashImage.h"
#include "link/ComsTasks.h"
#include "serial/Ticks.h"
#include "support/FakeComPort.h"
#include "support/Fakes.h"
#include "support/SteppingClock.h"
#include "support/TempDir.h"
#include "support/WindowFixture.h"

namespace tarvex::test {

class BootTarget {
 public:
  explicit BootTarget(std::uint32_t pages) : flash(std::size_t{pages} * kPageSize, '\xFF') {}

  std::string flash;  // one byte per flash address from the base
  bool synced = false;
  bool running = false;

  bool splitReplies = false;  // every reply arrives one byte at a time
  long flipAddress = -1;      // flash byte (offset from the base) that reads back inverted

  // Counts of what was seen.
  int erases = 0, writes = 0, reads = 0, gos = 0, frames = 0;
  std::vector<std::uint16_t> erasedPages;

  // Answers one frame; the reply bytes (possibly empty).
  std::string Answer(const std::string& f) {
    ++frames;
    const auto b = [&f](std::size_t i) { return static_cast<std::uint8_t>(f[i]); };
    switch (stage_) {
      case Stage::Command:
        if (f.size() == 1 && b(0) == 0x7F) {
          if (synced) return Nack();
          synced = true;
          return Ack();
        }
        if (!synced || f.size() != 2 || (b(0) ^ b(1)) != 0xFF) return Nack();
        cmd_ = b(0);
        switch (cmd_) {
          case 0x11:
            ++reads;
            stage_ = Stage::Address;
            return Ack();
          case 0x21:
            ++gos;
            stage_ = Stage::Address;
            return Ack();
          case 0x31:
            ++writes;
            stage_ = Stage::Address;
            return Ack();
          case 0x44:
            ++erases;
            stage_ = Stage::ErasePage;
            return Ack();
          default: return Nack();
        }
      case Stage::Address: {
        if (f.size() != 5 || Xor(f, 4) != b(4)) return Restart();
        addr_ = (std::uint32_t{b(0)} << 24) | (std::uint32_t{b(1)} << 16) | (std::uint32_t{b(2)} << 8) | b(3);
        if (addr_ < kFlashBase || addr_ - kFlashBase >= flash.size()) return Restart();
        if (cmd_ == 0x21) {
          stage_ = Stage::Command;
          running = true;
          return Ack();
        }
        stage_ = cmd_ == 0x11 ? Stage::Count : Stage::Data;
        return Ack();
      }
      case Stage::Count: {
        stage_ = Stage::Command;
        if (f.size() != 2 || (b(0) ^ b(1)) != 0xFF) return Nack();
        const std::size_t n = std::size_t{b(0)} + 1;
        const std::size_t at = addr_ - kFlashBase;
        std::string data = flash.substr(at, n);
        if (flipAddress >= 0 && static_cast<std::size_t>(flipAddress) >= at &&
            static_cast<std::size_t>(flipAddress) < at + n) {
          data[static_cast<std::size_t>(flipAddress) - at] ^= '\xFF';
        }
        return Ack() + data + '\x00';
      }
      case Stage::Data: {
        stage_ = Stage::Command;
        if (f.size() < 3 || f.size() != std::size_t{b(0)} + 3 || Xor(f, f.size() - 1) != b(f.size() - 1)) {
          return Nack();
        }
        flash.replace(addr_ - kFlashBase, f.size() - 2, f.substr(1, f.size() - 2));
        return Ack();
      }
      case Stage::ErasePage: {
        stage_ = Stage::Command;
        if (f.size() != 5 || b(0) != 0x00 || b(1) != 0x01 || Xor(f, 4) != b(4)) return Nack();
        const std::uint16_t page = static_cast<std::uint16_t>((b(2) << 8) | b(3));
        if (std::size_t{page} * kPageSize >= flash.size()) return Nack();
        flash.replace(std::size_t{page} * kPageSize, kPageSize, std::string(kPageSize, '\xFF'));
        erasedPages.push_back(page);
        return Ack();
      }
    }
    return {};
  }

 private:
  enum class Stage { Command, Address, Count, Data, ErasePage };
  static std::string Ack() { return std::string(1, '\x79'); }
  static std::string Nack() { return std::string(1, '\x1F'); }
  std::string Restart() {
    stage_ = Stage::Command;
    return Nack();
  }
  static std::uint8_t Xor(const std::string& f, std::size_t n) {
    std::uint8_t x = 0;
    for (std::size_t i = 0; i < n; ++i) x ^= static_cast<std::uint8_t>(f[i]);
    return x;
  }
  Stage stage_ = Stage::Command;
  std::uint8_t cmd_ = 0;
  std::uint32_t addr_ = 0;
};

// Runs the exchange between the window and the target until neither has anything left to do:
// every written frame is answered after PutString has returned (as the line would), each posted
// message is handled in order, and an armed reply timer with no answer coming expires (so a
// time-out costs no waiting). Returns the number of time-outs that fired.
struct Exchange {
  FakeComPort& port;
  FakePump& pump;
  BootTarget& target;
  TfrmMain& frm;
  int maxSteps = 200000;

  int Run() {
    int timeouts = 0;
    for (int step = 0; step < maxSteps; ++step) {
      // Each posted event is handled before the next reply arrives, as on the line, where the
      // reply takes far longer than the handling.
      if (pump.PumpOne() != 0) continue;
      if (!port.written.empty()) {
        const std::string frame = port.written.front();
        port.written.erase(port.written.begin());
        const std::string reply = target.Answer(frame);
        if (!port.Open()) continue;
        if (target.splitReplies) {
          for (char c : reply) {
            if (port.Open()) port.Receive(std::string(1, c));
          }
        } else if (!reply.empty()) {
          port.Receive(reply);
        }
        continue;
      }
      if (port.Open() && frm.TxTimer != 0 && port.TimerActive(frm.TxTimer)) {
        port.Expire(frm.TxTimer);
        ++timeouts;
        continue;
      }
      return timeouts;
    }
    ADD_FAILURE() << "exchange did not settle";
    return timeouts;
  }
};

// Fills a page of FileMemory with a recognisable pattern (never 0xFF, so the page is in use).
inline void FillPage(std::uint32_t page, std::uint8_t seed) {
  auto& p = FileMemory.at(page);
  for (std::uint32_t o = 0; o < kPageSize; ++o) p.Data[o] = static_cast<std::uint8_t>((o * 7 + seed) % 0xFF);
  p.InUse = true;
}

// The window in boot loader mode on an open port, with a product of memory-size code 1 (128 pages,
// verify limit 0x0803F800) and a target with the same flash size.
class FlashFixture : public WindowFixture {
 protected:
  static constexpr std::uint32_t kPages = 128;

  void SetUp() override {
    WindowFixture::SetUp();
    SetTickClock(&clock);
    SetImagePages(kPages);
    ProductMemSize = 1;
    ProductInfo.ProductCode = 102;
    ProductInfo.Major = 1;
    ProductInfo.Minor = 0;
    frm = std::make_unique<TfrmMain>(WiredPlatform(), std::vector<std::string>{});
    port.SetOpen(true);
    frm->TxTimer = port.AddTimerTrigger();
    frm->PortOpen = true;
    BootloaderMode = true;
    frm->ComsState = TComsState::csPortOpen;
    temp_ = std::make_unique<test::TempDir>("tarvex-flash");
    logs = temp_->Path();
    LogsFolder = logs.string() + "/";
  }
  void TearDown() override {
    WindowFixture::TearDown();
    temp_.reset();
  }

  // Runs the exchange to its end; returns the time-outs that fired.
  int Run() { return Exchange{port, pump, target, *frm}.Run(); }
  // The sync as the end of the boot-loader-entry job sends it.
  void Sync() { frm->SendBootCommand(0x7F); }
  [[nodiscard]] std::string ReportPath() const { return LogsFolder + "Verification Data.txt"; }

  SteppingClock clock{1000, TickLength};  // every reading a tick later: the waits pass at once
  DebugCapture log;
  BootTarget target{kPages};
  std::filesystem::path logs;
  std::unique_ptr<test::TempDir> temp_;
};

}  // namespace tarvex::test
