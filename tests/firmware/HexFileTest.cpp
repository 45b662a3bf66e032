// The HEX loader and the identity block: record checks, addressing, failures and bad input.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "firmware/FlashImage.h"
#include "firmware/HexBuilder.h"
#include "firmware/HexFile.h"

namespace tarvex {
namespace {

using test::Data;
using test::ExtAddr;
using test::kEof;
using test::Lines;

class HexLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetGlobals();
    SetImagePages(512);
  }
  void TearDown() override { ResetGlobals(); }
  static std::vector<std::uint8_t> Seq(std::uint8_t first, std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(first + i);
    return v;
  }
  test::TempDir dir;
};

TEST(HexRecordChecks, HexToIntTakesEitherCaseAndRefusesTheRest) {
  EXPECT_EQ(HexToInt("0"), 0u);
  EXPECT_EQ(HexToInt("fF"), 255u);
  EXPECT_EQ(HexToInt("0800"), 0x0800u);
  EXPECT_EQ(HexToInt("DeadBeef"), 0xDEADBEEFu);
  EXPECT_FALSE(HexToInt(""));
  EXPECT_FALSE(HexToInt("0G"));
  EXPECT_FALSE(HexToInt(" 1"));
  EXPECT_FALSE(HexToInt(std::string_view("1\0", 2)));
  EXPECT_FALSE(HexToInt("123456789"));  // would not fit
}

TEST(HexRecordChecks, ChecksumOverEveryByteOfTheLine) {
  EXPECT_TRUE(CheckHexRecord(":00000001FF"));
  EXPECT_TRUE(CheckHexRecord(":020000040800F2"));
  EXPECT_TRUE(CheckHexRecord(":020000040800f2"));
  EXPECT_TRUE(CheckHexRecord(test::Data(0x1234, {1, 2, 3, 0xFE})));
  EXPECT_FALSE(CheckHexRecord(":0100000000FE"));
  EXPECT_FALSE(CheckHexRecord(""));
  EXPECT_FALSE(CheckHexRecord(":"));
  EXPECT_FALSE(CheckHexRecord("00000001FF"));
  EXPECT_FALSE(CheckHexRecord(":00000001FG"));
  EXPECT_FALSE(CheckHexRecord(":0000X001FF"));
}

TEST_F(HexLoad, ExtendedAddressThenDataLandsInPageZero) {
  const auto bytes = Seq(0x10, 16);
  ASSERT_TRUE(LoadHexText(Lines({":020000040800F2", Data(0x0000, bytes), kEof})));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(FileMemory[0].Data[i], bytes[static_cast<std::size_t>(i)]);
  EXPECT_EQ(FileMemory[0].Data[16], 0xFF);
  EXPECT_TRUE(FileMemory[0].InUse);
  BuildPageList();
  EXPECT_EQ(PageList.size(), 1u);
}

TEST_F(HexLoad, RecordCrossingA64KBoundarySplitsIntoPages31And32) {
  const auto bytes = Seq(1, 16);
  ASSERT_TRUE(LoadHexText(Lines({ExtAddr(0x0800), Data(0xFFF8, bytes), kEof}, "\n")));
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(FileMemory[31].Data[2040 + i], bytes[static_cast<std::size_t>(i)]);
    EXPECT_EQ(FileMemory[32].Data[i], bytes[static_cast<std::size_t>(8 + i)]);
  }
  BuildPageList();
  ASSERT_EQ(PageList.size(), 2u);
  EXPECT_EQ(PageList[0].PageID, 31);
  EXPECT_EQ(PageList[1].PageID, 32);
}

TEST_F(HexLoad, AllErasedRecordLeavesItsPageUnused) {
  ASSERT_TRUE(LoadHexText(Lines({ExtAddr(0x0800), Data(0x1000, std::vector<std::uint8_t>(16, 0xFF)), kEof})));
  EXPECT_FALSE(FileMemory[2].InUse);
  EXPECT_EQ(CountBlocks(), 0);
}

TEST_F(HexLoad, LineEndsCaseAndTrailingBlanks) {
  const std::string rec = Data(0x0010, {0xAB, 0xCD});
  std::string lower = rec;
  for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // LF and CR LF mixed, lower case, trailing blanks and a last line without its line end.
  const std::string text = ExtAddr(0x0800) + "\n" + lower + " \t\r\n" + kEof;
  ASSERT_TRUE(LoadHexText(text));
  EXPECT_EQ(FileMemory[0].Data[0x10], 0xAB);
  EXPECT_EQ(FileMemory[0].Data[0x11], 0xCD);
}

TEST_F(HexLoad, BadChecksumStopsTheReadThere) {
  const std::string text = Lines({ExtAddr(0x0800), Data(0, {1}), ":0100000000FE", Data(0x800, {2}), kEof});
  EXPECT_FALSE(LoadHexText(text));
  EXPECT_TRUE(FileMemory[0].InUse);   // stored before the failure
  EXPECT_FALSE(FileMemory[1].InUse);  // the lines after it were not read
}

TEST_F(HexLoad, MalformedLinesFailTheLoad) {
  const std::string good = Data(0, {1, 2, 3});
  const std::vector<std::string> bad = {
      "",                               // empty line
      "   ",                            // blanks only
      good + "0",                       // one character too many
      good.substr(0, good.size() - 1),  // one too few
      ":0300000001020300F7",            // count says 3, four bytes follow (checksum fits)
      " " + good,                       // leading blank
      good.substr(0, 5) + "Z" + good.substr(6),
      ":0100000401FA",  // extended address with a single byte
  };
  for (const auto& line : bad) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(LoadHexText(Lines({ExtAddr(0x0800), line, kEof})));
  }
}

TEST_F(HexLoad, EndOfFileRecordIsRequiredAndLaterLinesStillCount) {
  EXPECT_FALSE(LoadHexText(Lines({ExtAddr(0x0800), Data(0, {1})})));
  EXPECT_FALSE(LoadHexText(""));
  ResetMemory(kFileImage);
  ASSERT_TRUE(LoadHexText(Lines({ExtAddr(0x0800), kEof, Data(0x800, {7})})));
  EXPECT_EQ(FileMemory[1].Data[0], 7);
  // A failure after the end-of-file record still fails the file.
  EXPECT_FALSE(LoadHexText(Lines({ExtAddr(0x0800), kEof, "garbage"})));
}

TEST_F(HexLoad, DataOutsideTheImageFails) {
  SetImagePages(128);
  EXPECT_FALSE(LoadHexText(Lines({ExtAddr(0x0804), Data(0, {1}), kEof})));
  EXPECT_FALSE(LoadHexText(Lines({Data(0, {1}), kEof})));  // no extended address: below the base
  EXPECT_FALSE(LoadHexText(Lines({ExtAddr(0x07FF), Data(0xFFFF, {1}), kEof})));
  // Running off the last page fails, though its first bytes were stored.
  EXPECT_FALSE(LoadHexText(Lines({ExtAddr(0x0803), Data(0xFFFE, {1, 2, 3, 4}), kEof})));
  EXPECT_EQ(FileMemory[127].Data[2047], 2);
  // The last byte of the image is fine.
  EXPECT_TRUE(LoadHexText(Lines({ExtAddr(0x0803), Data(0xFFFF, {9}), kEof})));
  // Segment addressing is not honoured: its data lie below the base.
  EXPECT_FALSE(LoadHexText(Lines({":020000021000EC", Data(0, {1}), kEof})));
  // Without a product there is no image, and every data record fails.
  SetImagePages(0);
  EXPECT_FALSE(LoadHexText(Lines({ExtAddr(0x0800), Data(0, {1}), kEof})));
  EXPECT_TRUE(LoadHexText(Lines({ExtAddr(0x0800), kEof})));
}

TEST_F(HexLoad, OtherRecordTypesAreIgnored) {
  ASSERT_TRUE(LoadHexText(
      Lines({ExtAddr(0x0800), ":0400000508000000EF", test::HexRecord(3, 0, {0, 0, 0, 0}), kEof})));
  EXPECT_EQ(CountBlocks(), 0);
}

// Identity ---------------------------------------------------------------------------------------

TProductInfo Identify(const std::string& text, std::uint8_t micro = 0x77) {
  TProductInfo info;
  info.Micro = micro;
  info.Major = info.Minor = 9;
  info.ProductCode = info.Family = info.Variant = 9;
  ReadTextIdentity(text, info);
  return info;
}

TEST(HexIdentity, BlockAnywhereInTheDataWhateverItsAddress) {
  // The block straddles two records and sits at a lower address than the first record.
  const auto info = Identify(Lines({ExtAddr(0x0801), Data(0x10, {0, 0x55, 0xAA}), ExtAddr(0x0800),
                                    Data(0, {0xFF, 120, 1, 4, 62, 'G', 'D'}), kEof}));
  EXPECT_EQ(info.ProductCode, 120);
  EXPECT_EQ(info.Variant, 1);
  EXPECT_EQ(info.Major, 4);
  EXPECT_EQ(info.Minor, 62);
  EXPECT_EQ(info.Micro, 'G');
  EXPECT_EQ(info.Family, 10);
  EXPECT_EQ(info.Spare, 0);
}

TEST(HexIdentity, FirstBlockCountsAndTheMakerMarkNeedsBothLetters) {
  const auto two = test::IdentityBlock(110, 0, 4, 1, {'G', 'X'});
  auto both = two;
  const auto second = test::IdentityBlock(60, 0, 5, 2, {'G', 'D'});
  both.insert(both.end(), second.begin(), second.end());
  const auto info = Identify(Lines({ExtAddr(0x0800), Data(0, both), kEof}));
  EXPECT_EQ(info.ProductCode, 110);
  EXPECT_EQ(info.Minor, 1);
  EXPECT_EQ(info.Micro, 'S');
  // Signature bytes repeated before the real start.
  EXPECT_EQ(Identify(Lines({Data(0, {0x55, 0x55, 0xAA, 0x55, 0xAA, 0xFF, 7, 0, 1, 2}), kEof})).ProductCode,
            7);
}

TEST(HexIdentity, BlockAtTheVeryEndAndBlockCutShort) {
  const auto atEnd = Identify(Lines({Data(0, {1, 2}), Data(2, test::IdentityBlock(2, 0, 1, 30)), kEof}));
  EXPECT_EQ(atEnd.ProductCode, 2);
  EXPECT_EQ(atEnd.Micro, 'S');
  const auto oneLetter = Identify(Lines({Data(0, test::IdentityBlock(2, 0, 1, 30, {'G'})), kEof}));
  EXPECT_EQ(oneLetter.Micro, 'S');
  // Six bytes are not a block: zeros, and Micro is left alone.
  const auto cut = Identify(Lines({Data(0, {0x55, 0xAA, 0xFF, 2, 0, 1}), kEof}));
  EXPECT_EQ(cut.ProductCode, 0);
  EXPECT_EQ(cut.Major, 0);
  EXPECT_EQ(cut.Micro, 0x77);
}

TEST(HexIdentity, UnreadableFileOrNoBlockLeavesZeros) {
  const auto block = test::IdentityBlock(120, 1, 4, 62);
  for (const std::string& text : {Lines({Data(0, block)}),                         // no end-of-file record
                                  Lines({Data(0, block), ":0100000000FE", kEof}),  // bad checksum
                                  Lines({Data(0, {1, 2, 3}), kEof})}) {            // no block
    const auto info = Identify(text);
    EXPECT_EQ(info.ProductCode, 0);
    EXPECT_EQ(info.Variant, 0);
    EXPECT_EQ(info.Family, 0);
    EXPECT_EQ(info.Major, 0);
    EXPECT_EQ(info.Minor, 0);
    EXPECT_EQ(info.Micro, 0x77);
  }
  TProductInfo info;
  info.ProductCode = 5;
  ReadFileIdentity("/nonexistent/x.hex", info);
  EXPECT_EQ(info.ProductCode, 0);
}

// Files and bad input ----------------------------------------------------------------------------

TEST_F(HexLoad, FileLoadsAndIdentifies) {
  const auto file =
      dir.Write("fw.hex", Lines({ExtAddr(0x0800), Data(0x100, test::IdentityBlock(60, 0, 4, 41)), kEof}));
  ASSERT_TRUE(LoadHexFile(file));
  EXPECT_TRUE(FileMemory[0].InUse);
  TProductInfo info;
  ReadFileIdentity(file, info);
  EXPECT_EQ(info.ProductCode, 60);
  EXPECT_EQ(info.Minor, 41);
}

// Names beyond ASCII load on every system (on Windows through the wide-character calls).
TEST_F(HexLoad, FilesWithNamesBeyondAsciiLoad) {
  for (const char* name : {"\xC3\x9C"
                           "berwachung.hex",
                           "\xCE\xA9 panel.hex"}) {  // Überwachung, Ω panel
    const auto file =
        dir.Write(name, Lines({ExtAddr(0x0800), Data(0x100, test::IdentityBlock(60, 0, 4, 41)), kEof}));
    ResetMemory(kFileImage);
    EXPECT_TRUE(LoadHexFile(file)) << file;
    TProductInfo info;
    ReadFileIdentity(file, info);
    EXPECT_EQ(info.ProductCode, 60) << file;
  }
}

// Every refusal names its reason, and the line where a record is at fault.
TEST_F(HexLoad, FilesThatAreNotHexFailCleanlyWithTheirReason) {
  const auto fault = [](const std::string& file) {
    ResetMemory(kFileImage);
    THexFault f;
    EXPECT_FALSE(LoadHexFile(file, &f)) << file;
    return std::make_pair(f.Kind, f.Line);
  };
  using K = THexFaultKind;
  using P = std::pair<K, std::size_t>;
  EXPECT_EQ(fault(dir.Path() + "/missing.hex"), P(K::hfMissing, 0));
  EXPECT_EQ(fault(""), P(K::hfMissing, 0));
  EXPECT_EQ(fault(dir.Path()), P(K::hfNotRegularFile, 0));  // a folder
#ifndef _WIN32
  EXPECT_EQ(fault("/dev/zero"), P(K::hfNotRegularFile, 0));  // never read
#endif
  EXPECT_EQ(fault(dir.Write("bin.hex", std::string("\x7f"
                                                   "ELF\x02\x01\x01\0\0\0",
                                                   10))),
            P(K::hfNotHex, 1));
  std::string nul = ExtAddr(0x0800) + "\n:01000000";
  nul += '\0';
  nul += "1FE\n" + kEof;  // the length is right, the NUL stands where a digit belongs
  EXPECT_EQ(fault(dir.Write("digit-nul.hex", nul)), P(K::hfNotHex, 2));
  EXPECT_EQ(fault(dir.Write("empty.hex", "")), P(K::hfNoData, 0));
  EXPECT_EQ(fault(dir.Write("cut.hex", Lines({ExtAddr(0x0800), Data(0, {1})}))), P(K::hfNoEndOfFile, 0));
  EXPECT_EQ(fault(dir.Write("sum.hex", Lines({ExtAddr(0x0800), Data(0, {1}), ":0100000000FE", kEof}))),
            P(K::hfBadChecksum, 3));
  EXPECT_EQ(fault(dir.Write("len.hex", Lines({ExtAddr(0x0800), ":0300000001020300F7", kEof}))),
            P(K::hfWrongLength, 2));
  EXPECT_EQ(fault(dir.Write("ext.hex", Lines({":0100000401FA", kEof}))), P(K::hfWrongLength, 1));
  EXPECT_EQ(fault(dir.Write("far.hex", Lines({ExtAddr(0x0900), Data(0, {1}), kEof}))),
            P(K::hfOutsideMemory, 2));
  // A single line of 10 MB: refused after the first kilobyte.
  EXPECT_EQ(fault(dir.Write("long.hex", ":" + std::string(10 * 1024 * 1024, '0'))), P(K::hfNotHex, 1));
  // A 600 MB file (sparse, so it costs no disk) is refused before a byte is read.
  const std::string huge = dir.Path() + "/huge.hex";
  dir.Write("huge.hex", Lines({ExtAddr(0x0800)}));
  std::filesystem::resize_file(huge, 600ull * 1024 * 1024);
  EXPECT_EQ(fault(huge), P(K::hfTooLarge, 0));
  TProductInfo info;
  ReadFileIdentity(huge, info);
  EXPECT_EQ(info.ProductCode, 0);

  EXPECT_EQ(HexFaultText(dir.Path() + "/sum.hex", {K::hfBadChecksum, 3}), "sum.hex, line 3: bad checksum");
  EXPECT_EQ(HexFaultText("empty.hex", {K::hfNoData, 0}), "empty.hex: no firmware data");
}

#ifndef _WIN32
// Permissions and /proc are Linux's.
TEST_F(HexLoad, UnreadableFileFails) {
  const auto file = dir.Write("locked.hex", Lines({ExtAddr(0x0800), Data(0, {1}), kEof}));
  ASSERT_EQ(chmod(file.c_str(), 0), 0);
  if (geteuid() != 0) {  // root reads any file
    EXPECT_FALSE(LoadHexFile(file));
  }
  // A regular file whose read fails with an I/O error, whoever runs the test.
  THexFault f;
  EXPECT_FALSE(LoadHexFile("/proc/self/mem", &f));
  EXPECT_EQ(f.Kind, THexFaultKind::hfCannotRead);
  TProductInfo info;
  info.ProductCode = 4;
  ReadFileIdentity("/proc/self/mem", info);
  EXPECT_EQ(info.ProductCode, 0);
}
#endif

}  // namespace
}  // namespace tarvex

namespace tarvex {
namespace {

// Without a folder of its own the helper fails the test; it must never fall back to a shared one
// that its destructor would then empty.
TEST(TempDirHelper, RefusesToFallBackToASharedFolder) {
  // The variables the system's temporary folder is taken from, on Linux and on Windows.
  const char* names[] = {"TMPDIR", "TMP", "TEMP"};
  std::string saved[3];
  bool had[3] = {};
  for (int i = 0; i < 3; ++i) {
    const char* v = std::getenv(names[i]);
    had[i] = v != nullptr;
    if (v != nullptr) saved[i] = v;
    test::SetEnv(names[i], "/nonexistent/tarvex-no-such-folder");
  }
  EXPECT_THROW(test::TempDir(), std::runtime_error);
  for (int i = 0; i < 3; ++i) {
    if (had[i]) {
      test::SetEnv(names[i], saved[i]);
    } else {
      test::UnsetEnv(names[i]);
    }
  }
}

}  // namespace
}  // namespace tarvex
