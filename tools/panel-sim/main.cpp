// tarvex-panel-sim: a Tarvex product on a serial line, for tests, demonstrations and training.
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tools/panel-sim/PanelSim.h"
#include "tools/panel-sim/SimLine.h"
#include "tools/panel-sim/SimOptions.h"

namespace {

std::atomic<bool> gStop{false};

extern "C" void OnSignal(int) {
  gStop.store(true);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tarvex::panelsim;
  TSimOptions opts;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (const auto error = ParseOptions(args, opts)) {
    std::fprintf(stderr, "tarvex-panel-sim: %s\nTry --help.\n", error->c_str());
    return 2;
  }
  if (opts.Help) {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }

  std::unique_ptr<std::FILE, int (*)(std::FILE*)> log(nullptr, &std::fclose);
  if (!opts.LogFile.empty()) {
    log.reset(std::fopen(opts.LogFile.c_str(), "w"));
    if (!log) {
      std::perror(("tarvex-panel-sim: " + opts.LogFile).c_str());
      return 1;
    }
  }

  TPanelSim sim(opts.Product);
  if (log) {
    std::FILE* f = log.get();
    sim.SetTranscript([f](std::uint64_t nowMs, std::string_view tag, std::string_view body) {
      std::fprintf(f, "%llu.%03llu %.*s %.*s\n", static_cast<unsigned long long>(nowMs / 1000),
                   static_cast<unsigned long long>(nowMs % 1000), static_cast<int>(tag.size()), tag.data(),
                   static_cast<int>(body.size()), body.data());
      std::fflush(f);
    });
  }

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGPIPE, SIG_IGN);

  TSimLine line(opts, sim);
  std::string error;
  if (!line.Open(error)) {
    std::fprintf(stderr, "tarvex-panel-sim: %s\n", error.c_str());
    return 1;
  }
  sim.Annotate(
      "line: ready on " + line.DevicePath() + (line.LinkPath().empty() ? "" : " as " + line.LinkPath()), 0);
  std::printf("tarvex-panel-sim: product %u version %u.%02u on %s%s%s\n", opts.Product.ProductCode,
              opts.Product.Major, opts.Product.Minor, line.DevicePath().c_str(),
              line.LinkPath().empty() ? "" : " as ", line.LinkPath().c_str());
  std::fflush(stdout);
  const int rc = line.Run(gStop);
  if (!opts.DumpFlashFile.empty()) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> dump(std::fopen(opts.DumpFlashFile.c_str(), "wb"),
                                                         &std::fclose);
    if (!dump || std::fwrite(sim.Flash().data(), 1, sim.Flash().size(), dump.get()) != sim.Flash().size()) {
      std::perror(("tarvex-panel-sim: " + opts.DumpFlashFile).c_str());
      return 1;
    }
  }
  return rc;
}
