// A whole update of a 1 MB image (512 pages in use) by the command-line front end against the
// product emulator paced at 115200 baud with its flash timings, both as separate processes. The
// figure that matters is the program's overhead over the line-rate minimum for the same traffic:
// every byte that crossed the line (from the emulator's transcript) at 11,520 bytes a second,
// plus the emulator's erase and programming time. Also reported: the CPU time the program used,
// which shows that its waits do not spin a core.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "firmware/HexBuilder.h"
#include "support/TempDir.h"
#include "tools/panel-sim/PanelSim.h"

extern char** environ;

namespace tarvex::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kPages = 512;
constexpr std::uint32_t kEraseMs = 20;
constexpr std::uint32_t kWriteMs = 6;
constexpr double kLineBytesPerSecond = 11520.0;

pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // Their progress lines would bury the figures.
  posix_spawn_file_actions_t quiet;
  ::posix_spawn_file_actions_init(&quiet);
  ::posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int r = ::posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&quiet);
  return r == 0 ? pid : -1;
}

std::string ImageHex() {
  std::vector<std::string> lines;
  const ByteString id = panelsim::TPanelSim::IdentityBlock(120, 0, 2, 5, false);
  for (std::uint32_t a = 0; a < kPages * 2048; a += 16) {
    if ((a & 0xFFFF) == 0) lines.push_back(ExtAddr(static_cast<std::uint16_t>(0x0800 + (a >> 16))));
    std::vector<std::uint8_t> rec(16);
    for (std::uint32_t i = 0; i < 16; ++i) {
      const std::uint32_t at = a + i;
      rec[i] = at >= 0x200 && at < 0x200 + id.size()
                   ? static_cast<std::uint8_t>(id[at - 0x200])
                   : static_cast<std::uint8_t>((at * 13 + at / 2048) & 0x7F);
    }
    lines.push_back(Data(static_cast<std::uint16_t>(a & 0xFFFF), rec));
  }
  lines.push_back(kEof);
  return Lines(lines);
}

// Bytes that crossed the line in either direction, from the transcript's RX and TX lines.
std::uint64_t LineBytes(const fs::path& transcript) {
  std::ifstream in(transcript);
  std::string line;
  std::uint64_t bytes = 0;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string time;
    std::string tag;
    words >> time >> tag;
    if (tag != "RX" && tag != "TX") continue;
    std::string pair;
    while (words >> pair) ++bytes;
  }
  return bytes;
}

void BM_UpdateOneMegabyteAt115200(benchmark::State& state) {
  const test::TempDir temp("tarvex-bench");
  const fs::path root = temp.Path();
  fs::create_directories(root / "ports");
  fs::create_directories(root / "data");
  std::ofstream(root / "image.hex", std::ios::binary) << ImageHex();
  ::setenv("TARVEX_PORTS_DIR", (root / "ports").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);

  for (auto _ : state) {
    fs::remove(root / "transcript.txt");
    const pid_t sim = Spawn({TARVEX_SIM_EXE, "--com", "9", "--baud", "115200", "--erase-ms",
                             std::to_string(kEraseMs), "--write-ms", std::to_string(kWriteMs),
                             "--reenumerate", "0", "--log", (root / "transcript.txt").string()});
    for (int i = 0; i < 500 && !fs::exists(root / "ports" / "COM9"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto start = std::chrono::steady_clock::now();
    const pid_t prog =
        Spawn({TARVEX_FLASH_EXE, "flash", "--port", "COM9", "--file", (root / "image.hex").string()});
    int status = 0;
    rusage use{};
    ::wait4(prog, &status, 0, &use);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::kill(sim, SIGTERM);
    ::waitpid(sim, nullptr, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("the update did not succeed");
      break;
    }
    const std::uint64_t bytes = LineBytes(root / "transcript.txt");
    const double flashTime = (kPages * kEraseMs + kPages * 8 * kWriteMs) / 1000.0;
    const double minimum = static_cast<double>(bytes) / kLineBytesPerSecond + flashTime;
    const double cpu = static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
                       static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
    state.SetIterationTime(wall);
    state.counters["line_bytes"] = static_cast<double>(bytes);
    state.counters["minimum_s"] = minimum;
    state.counters["wall_s"] = wall;
    state.counters["overhead_pct"] = (wall - minimum) / minimum * 100.0;
    state.counters["program_cpu_s"] = cpu;
  }
}
BENCHMARK(BM_UpdateOneMegabyteAt115200)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace tarvex::test
