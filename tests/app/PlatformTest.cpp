// The Linux and console implementations of the platform seams.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/platform/ConsoleServices.h"
#include "app/platform/LinuxFolders.h"
#include "app/platform/LinuxSettingsStore.h"
#include "support/TempDir.h"

namespace tarvex {
namespace {

namespace fs = std::filesystem;
constexpr const char* kKey = "Software\\Tarvex Ltd\\Tarvex Flash Programer\\1.20.0.0";

class OwnFolder : public ::testing::Test {
 protected:
  void TearDown() override {
    // A test may have left it read-only.
    std::error_code ec;
    fs::permissions(dir, fs::perms::owner_all, ec);
  }
  test::TempDir temp{"tarvex-platform"};
  std::string dir = temp.Path();
};

using SettingsFile = OwnFolder;

TEST_F(SettingsFile, RoundTripKeepsTypesAndText) {
  const std::string file = dir + "/cfg/settings.reg";
  LinuxSettingsStore store(file);
  {
    auto key = store.OpenKey(kKey, true);
    ASSERT_TRUE(key);
    key->WriteInteger("USB-Bridge Port", 7);
    key->WriteInteger("Neg", -1);
    key->WriteString("Last Folder", "/home/me/\"odd\" \\ folder/\nnext");
    key->Close();
  }
  ASSERT_TRUE(fs::exists(file));
  auto key = store.OpenKey(kKey, false);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->ReadInteger("USB-Bridge Port"), 7);
  EXPECT_EQ(key->ReadInteger("Neg"), -1);
  EXPECT_EQ(key->ReadString("Last Folder"), "/home/me/\"odd\" \\ folder/\nnext");
  EXPECT_FALSE(key->ValueExists("Show UDL Message"));
  EXPECT_THROW((void)key->ReadString("USB-Bridge Port"), ESettingsTypeError);
  EXPECT_THROW((void)key->ReadInteger("Last Folder"), ESettingsTypeError);
  // The file is readable text with the value types spelled out.
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("\"USB-Bridge Port\"=dword:00000007"), std::string::npos);
  EXPECT_NE(text.str().find(std::string("[") + kKey + "]"), std::string::npos);
}

TEST_F(SettingsFile, OtherKeysSurviveAWrite) {
  const std::string file = dir + "/settings.reg";
  {
    std::ofstream out(file);
    out << "[Software\\Other]\n\"Keep\"=\"me\"\n";
  }
  LinuxSettingsStore store(file);
  {
    auto key = store.OpenKey(kKey, true);
    key->WriteInteger("USB-Bridge Port", 2);
  }  // closed by the destructor
  auto other = store.OpenKey("Software\\Other", false);
  ASSERT_TRUE(other);
  EXPECT_EQ(other->ReadString("Keep"), "me");
  EXPECT_FALSE(fs::exists(file + ".tmp"));
  for (const auto& e : fs::directory_iterator(dir)) {
    EXPECT_EQ(e.path().filename(), "settings.reg") << "left behind: " << e.path();
  }
}

TEST_F(SettingsFile, KeyMissingWithoutCreate) {
  LinuxSettingsStore store(dir + "/settings.reg");
  EXPECT_FALSE(store.OpenKey(kKey, false));
  EXPECT_TRUE(store.OpenKey(kKey, true));
}

TEST_F(SettingsFile, FolderThatCannotBeMadeMeansTheKeyCannotBeOpened) {
  std::ofstream(dir + "/blocker") << "a file where the folder should be";
  LinuxSettingsStore store(dir + "/blocker/settings.reg");
  EXPECT_FALSE(store.OpenKey(kKey, true));
}

TEST_F(SettingsFile, UnreadableFileMeansTheKeyCannotBeOpened) {
  fs::create_directory(dir + "/settings.reg");  // present, but not a readable file
  LinuxSettingsStore store(dir + "/settings.reg");
  EXPECT_FALSE(store.OpenKey(kKey, true));
}

TEST_F(SettingsFile, NoFileLocationMeansNoKey) {
  LinuxSettingsStore store("");
  EXPECT_FALSE(store.OpenKey(kKey, true));
}

TEST(SettingsText, DamagedLinesAreSkipped) {
  const auto hive = LinuxSettingsStore::Parse(
      "garbage\n\"orphan\"=dword:1\n[K]\n\"a\"=dword:zz\n\"b\"=dword:123456789\n\"c\"=\"unterminated\n"
      "\"d\"=dword:0000000a\r\n\"e\"=\"ok\"\n[\n\"f\"=\"lost\"\n");
  ASSERT_EQ(hive.count("K"), 1u);
  const auto& k = hive.at("K");
  EXPECT_EQ(k.size(), 2u);
  EXPECT_EQ(std::get<std::int32_t>(k.at("d")), 10);
  EXPECT_EQ(std::get<std::string>(k.at("e")), "ok");
}

TEST(SettingsText, SerializeParseRoundTrip) {
  LinuxSettingsStore::Hive hive;
  hive["A\\B"]["x"] = std::int32_t{-5};
  hive["A\\B"]["y"] = std::string("with \"quotes\" and \\");
  hive["C"]["z"] = std::string();
  EXPECT_EQ(LinuxSettingsStore::Parse(LinuxSettingsStore::Serialize(hive)), hive);
}

TEST(SettingsDefaults, ConfigHomeDecidesTheFile) {
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(LinuxSettingsStore::DefaultFilePath(), "/cfg/tarvex-flash-programmer/settings.reg");
  if (old != nullptr) {
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
}

using Folders = OwnFolder;

TEST_F(Folders, CreateOneLevelAndReport) {
  LinuxFolders f;
  EXPECT_FALSE(f.DirectoryExists(dir + "/a"));
  EXPECT_TRUE(f.CreateDir(dir + "/a/"));
  EXPECT_TRUE(f.DirectoryExists(dir + "/a/"));
  EXPECT_FALSE(f.CreateDir(dir + "/x/y/"));  // parent missing
  EXPECT_FALSE(f.DirectoryExists(""));
  EXPECT_EQ(f.GetSpecialFolder(5), "");
  const std::string program = f.ProgramFolder();
  ASSERT_FALSE(program.empty());
  EXPECT_EQ(program.back(), '/');
  EXPECT_TRUE(f.DirectoryExists(program));
}

TEST(Console, MessageBoxesBecomeLines) {
  std::ostringstream out;
  ConsoleMessageBoxes boxes(out);
  std::vector<std::string> seen;
  boxes.OnShow = [&](TMsgKind, const std::string& t) { seen.push_back(t); };
  boxes.Show(TMsgKind::mkError, "Error reading file");
  boxes.Show(TMsgKind::mkPlain, "Com port does not exist");
  boxes.Show(TMsgKind::mkWarning, "w");
  boxes.Show(TMsgKind::mkInformation, "i");
  EXPECT_EQ(out.str(), "Error: Error reading file\nCom port does not exist\nWarning: w\nInformation: i\n");
  EXPECT_EQ(seen.size(), 4u);
  PresetFileDialog dlg;
  EXPECT_FALSE(dlg.Execute({}));
  dlg.Answer = "/fw/a.hex";
  EXPECT_EQ(dlg.Execute({}), std::optional<std::string>("/fw/a.hex"));
}

}  // namespace
}  // namespace tarvex
