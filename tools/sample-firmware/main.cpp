// tarvex-sample-firmware FILE: writes the demonstration's firmware file and checks that the
// programmer would accept it for the emulator's default product.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/sample-firmware/SampleFirmware.h"

namespace {
constexpr const char* kUsage =
    "Usage: tarvex-sample-firmware FILE\n"
    "Writes the demonstration's firmware file FILE (Intel HEX) for the emulator's default product.\n";
}

int main(int argc, char** argv) {
  using namespace tarvex::samplefw;
  const std::string arg = argc == 2 ? argv[1] : "";
  if (arg == "--help" || arg == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // An option is never a file name: "--help" must not become a file of that name.
  if (argc != 2 || arg.empty() || arg[0] == '-') {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string hex = MakeSampleHex(DefaultRecipe());
  if (const auto why = CheckAgainst(hex, EmulatedProduct())) {
    std::fprintf(stderr, "tarvex-sample-firmware: the sample would be refused: %s\n", why->c_str());
    return 1;
  }
  // Written beside the target and renamed, so a build never sees half a file.
  const std::filesystem::path target(argv[1]);
  std::error_code ec;
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
  const std::filesystem::path temp = target.string() + ".part";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << hex;
    if (!out.flush()) {
      std::fprintf(stderr, "tarvex-sample-firmware: cannot write %s\n", temp.c_str());
      return 1;
    }
  }
  std::filesystem::rename(temp, target, ec);
  if (ec) {
    std::fprintf(stderr, "tarvex-sample-firmware: cannot write %s: %s\n", target.c_str(),
                 ec.message().c_str());
    return 1;
  }
  return 0;
}
