// The Windows seams: the settings in the per-user registry with its types and failure cases, and
// the shell's folders.
#include <gtest/gtest.h>

#include <string>

#include "app/Main.h"
#include "app/platform/WindowsServices.h"
#include "core/Win32Names.h"
#include "serial/Win32Text.h"

namespace tarvex {
namespace {

constexpr const char* kTestKey = "Software\\Tarvex Ltd\\Tarvex Flash Programer Tests";

class WindowsSettings : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, WideFromUtf8(kTestKey).c_str()); }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, WideFromUtf8(kTestKey).c_str()); }
  WindowsSettingsStore store;
};

TEST_F(WindowsSettings, ValuesKeepTheirTypesAndAWrongTypeIsRefused) {
  EXPECT_EQ(store.OpenKey(kTestKey, false), nullptr);  // not there, and not to be made
  {
    auto key = store.OpenKey(kTestKey, true);
    ASSERT_NE(key, nullptr);
    EXPECT_FALSE(key->ValueExists("USB-Bridge Port"));
    key->WriteInteger("USB-Bridge Port", 7);
    key->WriteString("Last Folder", "C:\\Firmware\\Überwachung\\");
    key->WriteInteger("Show UDL Message", 0);
    key->Close();
  }
  auto key = store.OpenKey(kTestKey, false);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->ReadInteger("USB-Bridge Port"), 7);
  EXPECT_EQ(key->ReadString("Last Folder"), "C:\\Firmware\\Überwachung\\");
  EXPECT_THROW((void)key->ReadInteger("Last Folder"), ESettingsTypeError);
  EXPECT_THROW((void)key->ReadString("USB-Bridge Port"), ESettingsTypeError);
  EXPECT_THROW((void)key->ReadInteger("Missing"), std::out_of_range);
}

// The program reads its settings through the same store: a "Last Folder" stored as a number ends
// the reading there.
TEST_F(WindowsSettings, TheWindowLoadsAndSavesThroughTheRegistry) {
  {
    auto key = store.OpenKey("Software\\Tarvex Ltd\\Tarvex Flash Programer\\1.20.0.0", true);
    ASSERT_NE(key, nullptr);
    key->WriteInteger("USB-Bridge Port", 12);
    key->Close();
  }
  WindowsFolders folders;
  TPlatform p;
  p.Settings = &store;
  p.Folders = &folders;
  TfrmMain frm(p, {});
  frm.LoadSettings();
  EXPECT_EQ(frm.PortIdx, 12);
}

TEST(WindowsFolderSeam, CommonDataFolderAndProgramFolder) {
  WindowsFolders folders;
  const std::string base = folders.GetSpecialFolder(CSIDL_COMMON_APPDATA);
  EXPECT_FALSE(base.empty());
  EXPECT_TRUE(folders.DirectoryExists(base));
  const std::string program = folders.ProgramFolder();
  ASSERT_FALSE(program.empty());
  EXPECT_EQ(program.back(), '\\');
  EXPECT_TRUE(folders.DirectoryExists(program));
  const std::string made = base + "\\Tarvex Test Ω";
  RemoveDirectoryW(WideFromUtf8(made).c_str());
  EXPECT_TRUE(folders.CreateDir(made));
  EXPECT_TRUE(folders.DirectoryExists(made));
  EXPECT_FALSE(folders.CreateDir(made));  // there already
  RemoveDirectoryW(WideFromUtf8(made).c_str());
}

}  // namespace
}  // namespace tarvex
