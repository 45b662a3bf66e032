// The demonstration on a simulated panel, without a toolkit: the product emulator started as a
// child process on a pseudo-terminal, registered as a COM port in a temporary ports folder that
// only it lives in, and a settings file of its own so the installer's real settings stay as
// they were, the port is chosen already and the file dialog starts beside the sample firmware.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace tarvex {

struct TDemoConfig {
  std::string SimPath;               // the emulator's executable
  std::vector<std::string> SimArgs;  // options beyond the ports folder, e.g. {"--baud", "115200"}
  std::string SampleFolder;          // the file dialog's first folder; empty: none chosen
  std::chrono::milliseconds ReadyTimeout{10000};
};

class TDemoSession {
 public:
  // Makes the temporary folder, exports it as TARVEX_PORTS_DIR, starts the emulator and waits
  // until its port link stands. Nothing but an error text when any of that fails; whatever was
  // started by then is undone.
  static std::unique_ptr<TDemoSession> Start(const TDemoConfig& config, std::string& error);

  ~TDemoSession();
  TDemoSession(const TDemoSession&) = delete;
  TDemoSession& operator=(const TDemoSession&) = delete;

  // Stops the emulator (politely first, by force when it lingers), removes the temporary folder
  // and gives TARVEX_PORTS_DIR its old value. Bounded in time whatever state the child is in.
  void Stop();

  // True once the emulator has ended, for whatever reason (never blocks).
  bool ChildExited();

  [[nodiscard]] pid_t ChildPid() const { return pid_; }
  [[nodiscard]] const std::string& Folder() const { return folder_; }
  [[nodiscard]] const std::string& PortsDir() const { return portsDir_; }
  [[nodiscard]] const std::string& SettingsFile() const { return settingsFile_; }
  [[nodiscard]] int ComNumber() const { return com_; }
  [[nodiscard]] const std::string& Transcript() const { return transcript_; }

 private:
  TDemoSession() = default;
  bool Launch(const TDemoConfig& config, std::string& error);
  bool WaitReady(int fd, std::chrono::milliseconds timeout, std::string& error);

  pid_t pid_ = -1;
  bool exited_ = false;
  std::string folder_;
  std::string portsDir_;
  std::string settingsFile_;
  std::string transcript_;
  int com_ = 0;
  bool hadPortsEnv_ = false;
  std::string oldPortsEnv_;
};

// Folder of the running program, without a trailing separator; empty when it cannot be told.
std::string RunningProgramFolder();

// Where the program expects the emulator and the sample firmware: beside it, and in "demo".
std::string DemoSimulatorPath(const std::string& programFolder);
std::string DemoSampleFolder(const std::string& programFolder);

}  // namespace tarvex
