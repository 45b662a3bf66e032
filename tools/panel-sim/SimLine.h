// The emulator's line: a pseudo-terminal registered as a COM port link (or a real serial device),
// the loop that feeds the product what arrives and sends what it answers, paced to the baud rate.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

#include "tools/panel-sim/PanelSim.h"
#include "tools/panel-sim/SimOptions.h"

namespace tarvex::panelsim {

class TSimLine {
 public:
  TSimLine(const TSimOptions& opts, TPanelSim& sim);
  ~TSimLine();
  TSimLine(const TSimLine&) = delete;
  TSimLine& operator=(const TSimLine&) = delete;

  // Opens the line and registers the port link. False with a reason on failure.
  bool Open(std::string& error);
  // Serves the line until stop is set. Returns the process exit code.
  int Run(const std::atomic<bool>& stop);

  // The device the program opens (pseudo-terminal slave or the real device).
  [[nodiscard]] const std::string& DevicePath() const { return device_; }
  // The port link, empty when none is registered.
  [[nodiscard]] const std::string& LinkPath() const { return link_; }

 private:
  struct TPending {
    std::uint64_t DueUs = 0;
    TSimAction::Kind What = TSimAction::Kind::Send;
    ByteString Bytes;
  };

  bool OpenPty(std::string& error);
  bool OpenDevice(std::string& error);
  bool Register(std::string& error);
  void Unregister();
  void CloseLine();
  // The lead goes away for ms and comes back on a new pseudo-terminal.
  bool Replug(std::uint32_t ms, const std::atomic<bool>& stop);
  // Waits until the program has read what was sent (bounded).
  void DrainOutput();
  void Schedule(const std::vector<TSimAction>& actions, std::uint64_t nowUs);
  bool Flush(std::uint64_t nowUs, const std::atomic<bool>& stop);
  [[nodiscard]] std::uint64_t NowUs() const;

  const TSimOptions& opts_;
  TPanelSim& sim_;
  int fd_ = -1;     // what the emulator reads and writes
  int slave_ = -1;  // held open so the master never sees a hang-up between the program's opens
  std::string device_;
  std::string link_;
  std::string usbEntry_;  // the ports folder's entry of the lead's USB device
  int com_ = 0;
  std::uint64_t startUs_ = 0;
  std::uint64_t byteUs_ = 0;
  std::uint64_t rxDoneUs_ = 0;
  std::uint64_t txFreeUs_ = 0;
  std::deque<TPending> pending_;
  bool blocked_ = false;  // the last write found the line full
};

}  // namespace tarvex::panelsim
