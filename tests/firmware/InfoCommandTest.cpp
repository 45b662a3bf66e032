// `tarvex-flash info` and the command line's option parsing.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/Cli.h"
#include "core/Globals.h"
#include "firmware/HexBuilder.h"

namespace tarvex {
namespace {

using test::Data;
using test::ExtAddr;
using test::kEof;
using test::Lines;

struct Run {
  int code;
  std::string out;
  std::string err;
};

Run Cli(std::vector<std::string> args) {
  std::ostringstream out;
  std::ostringstream err;
  const int code = cli::RunCli(args, out, err);
  return {code, out.str(), err.str()};
}

class InfoCommand : public ::testing::Test {
 protected:
  void SetUp() override { ResetGlobals(); }
  void TearDown() override { ResetGlobals(); }
  test::TempDir dir;
};

TEST(CliArgs, OptionsValuesAndPositionals) {
  cli::TParsedArgs a;
  std::string error;
  const std::vector<cli::TOptionSpec> options{{"mem-code", true}, {"force", false}, {"help", false}};
  ASSERT_TRUE(cli::ParseArgs({"a.hex", "--mem-code", "3", "--force", "--", "--b"}, options, a, error));
  EXPECT_EQ(a.Positional, (std::vector<std::string>{"a.hex", "--b"}));
  EXPECT_EQ(a.Options["mem-code"], "3");
  EXPECT_TRUE(a.Has("force"));
  ASSERT_TRUE(cli::ParseArgs({"--mem-code=1", "-h", "-"}, options, a, error));
  EXPECT_EQ(a.Options["mem-code"], "1");
  EXPECT_TRUE(a.Has("help"));
  EXPECT_EQ(a.Positional, std::vector<std::string>{"-"});

  EXPECT_FALSE(cli::ParseArgs({"--nope"}, options, a, error));
  EXPECT_NE(error.find("unknown option"), std::string::npos);
  EXPECT_FALSE(cli::ParseArgs({"-x"}, options, a, error));
  EXPECT_FALSE(cli::ParseArgs({"--mem-code"}, options, a, error));
  EXPECT_FALSE(cli::ParseArgs({"--force=1"}, options, a, error));
  EXPECT_FALSE(cli::ParseArgs({"--force", "--force"}, options, a, error));
}

TEST_F(InfoCommand, PrintsIdentityPagesAndBlocks) {
  const auto file =
      dir.Write("fw.hex", Lines({ExtAddr(0x0800), Data(0x0000, test::IdentityBlock(120, 1, 4, 5, {'G', 'D'})),
                                 Data(0x0800, {1}), Data(0xFFF8, std::vector<std::uint8_t>(16, 0)), kEof}));
  const auto r = Cli({"info", file});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "File: " + file +
                       "\n"
                       "Product: VN-22\n"
                       "Product code: 120\n"
                       "Variant: 1\n"
                       "Version: 4.05\n"
                       "Microcontroller: ST Microelectronics or GigaDevice\n"
                       "Memory-size code: 5 (512 pages)\n"
                       "Pages in use: 4\n"
                       "  0-1       0x08000000-0x08000FFF\n"
                       "  31-32     0x0800F800-0x080107FF\n"
                       "Blocks: 32\n");
}

TEST_F(InfoCommand, MemoryCodeBoundsTheImageAndTheDumpIsTheWholeImage) {
  const auto file = dir.Write("fw.hex", Lines({ExtAddr(0x0804), Data(0x0002, {0xAB, 0xCD}), kEof}));
  auto r = Cli({"info", file, "--mem-code", "1"});
  EXPECT_EQ(r.code, 5);  // refused, as flash says it
  EXPECT_EQ(r.err, "Error reading file\nfw.hex, line 2: address outside the product's memory\n");
  EXPECT_TRUE(r.out.empty());

  const std::string bin = dir.Path() + "/image.bin";
  r = Cli({"info", "--dump-image", bin, "--mem-code=2", file});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Product: Unknown Product\n"), std::string::npos);
  EXPECT_NE(r.out.find("Memory-size code: 2 (192 pages)\n"), std::string::npos);
  EXPECT_NE(r.out.find("  128       0x08040000-0x080407FF\n"), std::string::npos);
  std::ifstream f(bin, std::ios::binary);
  const std::string image((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  ASSERT_EQ(image.size(), 192u * 2048u);
  EXPECT_EQ(static_cast<unsigned char>(image[0x40002]), 0xAB);
  EXPECT_EQ(static_cast<unsigned char>(image[0x40003]), 0xCD);
  std::size_t erased = 0;
  for (const char c : image) erased += static_cast<unsigned char>(c) == 0xFF ? 1 : 0;
  EXPECT_EQ(erased, image.size() - 2);
}

TEST_F(InfoCommand, FailuresAndUsageErrors) {
  EXPECT_EQ(Cli({"info", dir.Path() + "/missing.hex"}).code, 5);
  EXPECT_EQ(Cli({"info", dir.Path() + "/missing.hex"}).err,
            "Error reading file\nmissing.hex: the file does not exist\n");
  EXPECT_EQ(Cli({"info"}).code, 2);
  EXPECT_EQ(Cli({"info", "a.hex", "b.hex"}).code, 2);
  EXPECT_EQ(Cli({"info", "a.hex", "--mem-code", "0"}).code, 2);
  EXPECT_EQ(Cli({"info", "a.hex", "--mem-code", "6"}).code, 2);
  EXPECT_EQ(Cli({"info", "a.hex", "--mem-code", "5x"}).code, 2);
  EXPECT_EQ(Cli({"info", "a.hex", "--bogus"}).code, 2);
  const auto help = Cli({"info", "--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("Usage: tarvex-flash info FILE.hex"), std::string::npos);
  EXPECT_NE(Cli({"help"}).out.find("info"), std::string::npos);

  // Loads but holds nothing to write; a dump that cannot be written.
  const auto blank = dir.Write("blank.hex", Lines({kEof}));
  const auto r = Cli({"info", blank});
  EXPECT_EQ(r.code, 5);
  EXPECT_NE(r.out.find("Pages in use: 0\n"), std::string::npos);
  EXPECT_NE(r.err.find("no firmware data"), std::string::npos);
  const auto good = dir.Write("good.hex", Lines({ExtAddr(0x0800), Data(0, {1}), kEof}));
  EXPECT_EQ(Cli({"info", good, "--dump-image", dir.Path() + "/no/such/dir/x.bin"}).code, 1);
}

}  // namespace
}  // namespace tarvex
