// The tarvex-flash executable against the tarvex-panel-sim executable on a pseudo-terminal: the real
// serial port component, the real port list and USB watcher, real time.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/Globals.h"
#include "firmware/FlashImage.h"
#include "firmware/HexBuilder.h"
#include "firmware/HexFile.h"
#include "support/TempDir.h"
#include "support/WaitFor.h"

extern char** environ;

namespace tarvex {
namespace {

using test::WaitFor;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::string;
using std::vector;

string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The flash contents the emulator sent back for each READ, by address, from its transcript: the
// command 11 EE, the address frame, the count frame, then the ACK, the data and one byte more.
std::map<std::uint32_t, string> ReadBacks(const string& transcript) {
  std::map<std::uint32_t, string> blocks;
  vector<std::pair<string, string>> frames;  // tag, bytes
  std::istringstream in(transcript);
  for (string line; std::getline(in, line);) {
    std::istringstream l(line);
    string time, tag;
    l >> time >> tag;
    if (tag != "RX" && tag != "TX") continue;
    string bytes;
    for (string h; l >> h;) bytes += static_cast<char>(std::stoi(h, nullptr, 16));
    frames.emplace_back(tag, bytes);
  }
  for (std::size_t i = 0; i + 5 < frames.size(); ++i) {
    if (frames[i] != std::pair<string, string>{"RX", "\x11\xEE"}) continue;
    const string& addr = frames[i + 2].second;
    const string& count = frames[i + 4].second;
    const string& data = frames[i + 5].second;
    if (addr.size() != 5 || count.size() != 2 || frames[i + 5].first != "TX") continue;
    const std::size_t n = static_cast<std::uint8_t>(count[0]) + 1u;
    if (data.size() != n + 2) continue;
    std::uint32_t a = 0;
    for (int k = 0; k < 4; ++k) a = (a << 8) | static_cast<std::uint8_t>(addr[k]);
    blocks[a] = data.substr(1, n);
  }
  return blocks;
}

class FlashExecutable : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_ = std::make_unique<test::TempDir>("tarvex-flash-e2e");
    dir = temp_->Path();
    fs::create_directories(dir / "ports");
    fs::create_directories(dir / "data");
    std::ofstream(dir / "fw.hex", std::ios::binary) << test::FullImageHex(2, 120, 2, 5);
  }
  void TearDown() override {
    for (pid_t p : {flashPid, simPid}) {
      if (p > 0) {
        ::kill(p, SIGKILL);
        ::waitpid(p, nullptr, 0);
      }
    }
    if (HasFailure()) {
      std::cerr << "flash stdout:\n"
                << ReadAll(dir / "out.txt") << "flash stderr:\n"
                << ReadAll(dir / "err.txt") << "transcript:\n"
                << ReadAll(dir / "sim.log").substr(0, 4000);
    }
    temp_.reset();
  }

  static pid_t Spawn(vector<string> args, const vector<string>& env, const fs::path& out,
                     const fs::path& err) {
    vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    vector<string> envStrings = env;
    for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
    vector<char*> envp;
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    return rc == 0 ? pid : -1;
  }

  // The emulator as COM41 in the test's own ports folder.
  void StartSim(vector<string> extra) {
    vector<string> args{TARVEX_PANEL_SIM_EXE,
                        "--ports-dir",
                        (dir / "ports").string(),
                        "--com",
                        "41",
                        "--product",
                        "PX-22",
                        "--log",
                        (dir / "sim.log").string()};
    args.insert(args.end(), extra.begin(), extra.end());
    simPid = Spawn(args, {}, dir / "sim.out", dir / "sim.err");
    ASSERT_GT(simPid, 0);
    ASSERT_TRUE(WaitFor([&] { return fs::exists(dir / "ports" / "COM41"); }, std::chrono::seconds(10)));
  }

  // Runs the update to its end; the exit status.
  int Flash(vector<string> extra, std::chrono::seconds deadline) {
    if (!StartFlash(std::move(extra))) return -1;
    return WaitFlash(deadline);
  }
  bool StartFlash(vector<string> extra) {
    vector<string> args{TARVEX_FLASH_EXE, "flash", "--port", "COM41", "--file", (dir / "fw.hex").string()};
    args.insert(args.end(), extra.begin(), extra.end());
    flashPid =
        Spawn(args,
              {"TARVEX_PORTS_DIR=" + (dir / "ports").string(), "XDG_DATA_HOME=" + (dir / "data").string(),
               "XDG_CONFIG_HOME=" + (dir / "config").string()},
              dir / "out.txt", dir / "err.txt");
    return flashPid > 0;
  }
  int WaitFlash(std::chrono::seconds deadline) {
    int status = 0;
    const bool ended = WaitFor([&] { return ::waitpid(flashPid, &status, WNOHANG) == flashPid; }, deadline);
    if (!ended) return -2;
    flashPid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
  }
  [[nodiscard]] string Out() const { return ReadAll(dir / "out.txt"); }
  [[nodiscard]] string Err() const { return ReadAll(dir / "err.txt"); }

  fs::path dir;

  std::unique_ptr<test::TempDir> temp_;
  pid_t simPid = -1;
  pid_t flashPid = -1;
};

TEST_F(FlashExecutable, FullUpdateLeavesTheFileImageInTheProductsFlash) {
  StartSim({"--reenumerate", "0"});
  ASSERT_EQ(Flash({}, std::chrono::seconds(30)), 0) << Err();
  EXPECT_NE(Out().find("Running target application: OK\nUpdate complete: firmware 2.05 started.\n"),
            string::npos);
  EXPECT_EQ(Err(), "");

  // What the emulator read back from its flash is the file, byte for byte, for both pages.
  ResetGlobals();
  SetImagePages(512);
  ASSERT_TRUE(LoadHexFile((dir / "fw.hex").string()));
  const auto blocks = ReadBacks(ReadAll(dir / "sim.log"));
  ASSERT_EQ(blocks.size(), 16u);
  std::uint32_t covered = 0;
  for (const auto& [addr, data] : blocks) {
    const std::uint32_t off = addr - kFlashBase;
    ASSERT_LT(off / kPageSize, 2u);
    EXPECT_EQ(data, string(reinterpret_cast<const char*>(FileMemory[off / kPageSize].Data) + off % kPageSize,
                           data.size()))
        << std::hex << addr;
    covered += static_cast<std::uint32_t>(data.size());
  }
  EXPECT_EQ(covered, 2 * kPageSize);
  ResetGlobals();
}

TEST_F(FlashExecutable, FlippedFlashByteGivesTheVerifyFailedStatus) {
  StartSim({"--reenumerate", "0", "--flip-flash", "0x08000900"});
  EXPECT_EQ(Flash({}, std::chrono::seconds(30)), 7) << Err();
  EXPECT_NE(Out().find("Verifying flash data...FAILED!\n"), string::npos);
  const fs::path report = dir / "data" / "Tarvex Ltd" / "Flash Programmer" / "Logs" / "Verification Data.txt";
  EXPECT_EQ(ReadAll(report).substr(0, 14), "Addr: 8000900 ");
}

// A signal mid-write ends the command cleanly, with the status its help names and a last line
// that says where it stopped, instead of killing it silently.
TEST_F(FlashExecutable, SigtermMidWriteStopsCleanlyAndSaysWhere) {
  StartSim({"--reenumerate", "0", "--write-ms", "150"});
  ASSERT_TRUE(StartFlash({}));
  ASSERT_TRUE(WaitFor([&] { return Out().find("Erasing flash memory pages.... OK") != string::npos; },
                      std::chrono::seconds(20)));
  ASSERT_EQ(::kill(flashPid, SIGTERM), 0);
  EXPECT_EQ(WaitFlash(std::chrono::seconds(10)), 143) << Err();
  EXPECT_NE(Err().find("waits in its boot loader"), string::npos) << Err();
}

TEST_F(FlashExecutable, SilentProductEndsWithThePortStatus) {
  StartSim({"--silent"});
  EXPECT_EQ(Flash({}, std::chrono::seconds(30)), 3) << Err();
  EXPECT_NE(Err().find("no answer from a product on COM41"), string::npos);
}

TEST_F(FlashExecutable, WaitReconnectPrintsTheNewVersion) {
  // The lead leaves and returns once within a few seconds of GO: its USB device and its port.
  StartSim({"--reenumerate-ms", "1000"});
  ASSERT_EQ(Flash({"--wait-reconnect"}, std::chrono::seconds(60)), 0) << Err();
  const string out = Out();
  const auto after = out.find("Product after the update:\n");
  ASSERT_NE(after, string::npos) << out;
  EXPECT_NE(out.find("  Software Version: 2.05\n", after), string::npos) << out;
  EXPECT_NE(out.find("  Software Version: 1.00\n"), string::npos);
}

}  // namespace
}  // namespace tarvex
