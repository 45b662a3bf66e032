// The emulator's command line, its help and the ports folder convention.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "support/TempDir.h"
#include "tools/panel-sim/SimOptions.h"

namespace tarvex::panelsim {
namespace {

std::optional<std::string> Parse(std::vector<std::string> args, TSimOptions& o) {
  return ParseOptions(args, o);
}

TEST(SimOptions, PresetAndOverrides) {
  TSimOptions o;
  ASSERT_FALSE(Parse({"--product", "px-66", "--micro", "G", "--no-serial", "--nvm-locked"}, o));
  EXPECT_EQ(o.Product.ProductCode, 60);
  EXPECT_EQ(o.Product.Major, 4);
  EXPECT_EQ(o.Product.Minor, 32);
  EXPECT_EQ(o.Product.Micro, 'G');
  EXPECT_EQ(o.Product.SerialNo, ByteString(16, '\xFF'));
  EXPECT_TRUE(o.Product.NvmLocked);
  EXPECT_EQ(o.Product.UniqueID.size(), 12u);
  EXPECT_EQ(o.Baud, 0u);

  // Explicit values win over the preset whatever their order.
  TSimOptions p;
  ASSERT_FALSE(Parse({"--code", "7", "--version", "2.05", "--product", "PX-22", "--variant", "3"}, p));
  EXPECT_EQ(p.Product.ProductCode, 7);
  EXPECT_EQ(p.Product.Variant, 3);
  EXPECT_EQ(p.Product.Major, 2);
  EXPECT_EQ(p.Product.Minor, 5);
}

TEST(SimOptions, FaultsAndLine) {
  TSimOptions o;
  ASSERT_FALSE(
      Parse({"--nack", "0x31:2", "--silent-cmd", "0x44", "--chunk", "3:15", "--flip-flash", "0x08000100",
             "--access-error", "3", "--com", "33", "--baud", "115200", "--uid", "0102030405060708090a0B0C"},
            o));
  EXPECT_EQ(o.Product.Faults.NackCommand, 0x31);
  EXPECT_EQ(o.Product.Faults.NackCount, 2u);
  EXPECT_EQ(o.Product.Faults.SilentCommand, 0x44);
  EXPECT_EQ(o.Product.Faults.SilentCount, std::numeric_limits<std::uint32_t>::max());
  EXPECT_EQ(o.Product.Faults.ChunkSize, 3u);
  EXPECT_EQ(o.Product.Faults.ChunkDelayMs, 15u);
  EXPECT_EQ(o.Product.Faults.FlipAddress, 0x08000100u);
  EXPECT_EQ(o.Product.Faults.AccessError, 3);
  EXPECT_EQ(o.Com, 33);
  EXPECT_EQ(o.Baud, 115200u);
  EXPECT_EQ(o.Product.UniqueID[11], '\x0C');
}

TEST(SimOptions, BadValuesAreRefused) {
  const std::vector<std::vector<std::string>> bad = {{"--bogus"},
                                                     {"--code"},
                                                     {"--code", "256"},
                                                     {"--code", "-1"},
                                                     {"--version", "1.5"},
                                                     {"--version", "1"},
                                                     {"--product", "nope"},
                                                     {"--access-error", "6"},
                                                     {"--access-error", "1"},
                                                     {"--nack", "0x31"},
                                                     {"--nack", "x:1"},
                                                     {"--chunk", "0:5"},
                                                     {"--uid", "0102"},
                                                     {"--uid", "zz0102030405060708090a0b"},
                                                     {"--serial", "12345678901234567"},
                                                     {"--micro", "GD"},
                                                     {"--flip-flash", "0x100"},
                                                     {"--com", "0"},
                                                     {"--mem-pages", "0"},
                                                     {"--baud", "12x"}};
  for (const auto& args : bad) {
    TSimOptions o;
    EXPECT_TRUE(Parse(args, o)) << args[0];
  }
}

TEST(SimOptions, HelpDocumentsEveryOption) {
  // Every option the parser knows appears in the help, and every option the help names parses.
  std::ifstream src(std::string(TARVEX_SOURCE_DIR) + "/tools/panel-sim/SimOptions.cpp");
  ASSERT_TRUE(src);
  const std::string text((std::istreambuf_iterator<char>(src)), std::istreambuf_iterator<char>());
  const std::string code = text.substr(text.find("std::optional<std::string> ParseOptions"));
  const std::string help = HelpText();
  std::set<std::string> parsed, documented;
  const std::regex opt(R"(--[a-z][a-z-]*)");
  const std::regex quoted("\"(--[a-z][a-z-]*)\"");
  for (std::sregex_iterator it(code.begin(), code.end(), quoted), end; it != end; ++it)
    parsed.insert((*it)[1]);
  for (std::sregex_iterator it(help.begin(), help.end(), opt), end; it != end; ++it)
    documented.insert(it->str());
  EXPECT_GE(parsed.size(), 30u);
  EXPECT_EQ(parsed, documented);
}

#ifndef _WIN32
// The emulator registers itself in a ports folder on Linux only.
TEST(PortsFolder, DefaultFolderAndLowestFreeNumber) {
  const char* old = std::getenv("TARVEX_PORTS_DIR");
  const std::string saved = old ? old : "";
  ::setenv("TARVEX_PORTS_DIR", "/some/where", 1);
  EXPECT_EQ(DefaultPortsDir(), "/some/where");
  ::unsetenv("TARVEX_PORTS_DIR");
  ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(DefaultPortsDir(), "/cfg/tarvex-flash-programmer/ports");
  ::unsetenv("XDG_CONFIG_HOME");
  if (old) ::setenv("TARVEX_PORTS_DIR", saved.c_str(), 1);

  const test::TempDir temp("panelsim-ports");
  const std::filesystem::path dir = temp.Path();
  EXPECT_EQ(LowestFreeCom(dir.string()), 20);
  std::filesystem::create_symlink("/nonexistent", dir / "COM20");  // a dangling link still takes the name
  std::ofstream(dir / "COM21").put('x');
  EXPECT_EQ(LowestFreeCom(dir.string()), 22);
  EXPECT_EQ(LowestFreeCom(dir.string(), 3), 3);
}
#endif

}  // namespace
}  // namespace tarvex::panelsim
