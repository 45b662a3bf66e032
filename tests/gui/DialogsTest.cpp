// The advisory dialog's texts and its check box rule, the message boxes' kinds, the file
// dialog's set-up and answers, and the pictures of the look and feel.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>

#include "GuiSupport.h"
#include "gui/QtServices.h"
#include "gui/UDLMessage.h"
#include "support/Fakes.h"

namespace tarvex::test {
namespace {

class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override { App(); }
};

QString LabelText(const QWidget& parent, const char* name) {
  const auto* label = parent.findChild<QLabel*>(name);
  return label != nullptr ? label->text() : QString("<missing %1>").arg(name);
}

TEST_F(DialogsTest, AdvisoryDialogCarriesItsTextsVerbatim) {
  FakeShell shell;
  TfrmUDLMessage dialog(nullptr, &shell);
  EXPECT_EQ(dialog.windowTitle(), "Important, Please Read ");
  EXPECT_EQ(
      LabelText(dialog, "lbBackup"),
      "It is highly recommended that you make a backup of the control panel configuration data before flash "
      "updating the firmware. In some cases, the panel configuration data will be restored to the factory "
      "default settings after performing the flash update.");
  EXPECT_EQ(LabelText(dialog, "lbHowTo"),
            QString::fromUtf8(
                "To create a backup \xE2\x80\x93 Connect the Tarvex UDL software via a USB connection "
                "then once connected select \xE2\x80\x98Receive All\xE2\x80\x99. Once received select "
                "\xE2\x80\x98Menu\xE2\x80\x99 > \xE2\x80\x98Save\xE2\x80\x99 to store the current "
                "programming."));
  EXPECT_EQ(LabelText(dialog, "lbDefault"),
            "After the flash update it is advised to default the control panel (Please refer to the relevant "
            "installation manual for additional information). ");
  EXPECT_EQ(
      LabelText(dialog, "lbWireless"),
      "Depending on the software versions it is highly recommended to ONLY send back the WIRELESS page from "
      "the Tarvex UDL and not all data. The remaining fields can be copy and pasted between two different "
      "UDL "
      "windows.");
  EXPECT_EQ(LabelText(dialog, "lbPortal"),
            "Registered installers can download Tarvex UDL from the Installers portal:");
  EXPECT_TRUE(LabelText(dialog, "lbFirmwareDL").contains("https://www.example.com/installer"));
  EXPECT_EQ(dialog.LinkLabel()->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(LabelText(dialog, "lbContact"), "For additional information please contact our support team on:");
  EXPECT_EQ(LabelText(dialog, "lbTelephone"), "Telephone: 01632 960123");
  EXPECT_EQ(LabelText(dialog, "lbEmail"), "Email: support@example.com");
  EXPECT_EQ(dialog.DontShowBox()->text(), "Do not show this message again");
  EXPECT_FALSE(dialog.DontShowBox()->isChecked());
  EXPECT_EQ(dialog.CloseButton()->text(), "Close");
}

TEST_F(DialogsTest, AdvisoryDialogIsFixedSize) {
  TfrmUDLMessage dialog(nullptr, nullptr);
  dialog.show();
  ASSERT_TRUE(WaitUntil([&] { return dialog.isVisible(); }));
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
  QDir().mkpath(TARVEX_SCREENSHOT_DIR);
  EXPECT_TRUE(dialog.grab().save(QString(TARVEX_SCREENSHOT_DIR) + "/advisory-dialog.png"));
  dialog.close();
}

TEST_F(DialogsTest, LinkOpensTheInstallersPortal) {
  FakeShell shell;
  TfrmUDLMessage dialog(nullptr, &shell);
  emit dialog.LinkLabel()->linkActivated("https://www.example.com/installer");
  ASSERT_EQ(shell.opened.size(), 1U);
  EXPECT_EQ(shell.opened[0], "https://www.example.com/installer");
}

struct CheckBoxCase {
  bool tick;
  bool viaClose;  // false: the window's close box
  bool expected;
};

class AdvisoryRuleTest : public DialogsTest, public ::testing::WithParamInterface<CheckBoxCase> {};

TEST_P(AdvisoryRuleTest, OnlyTickedAndCloseTurnsTheDialogOff) {
  const CheckBoxCase c = GetParam();
  FakeShell shell;
  TQtAdvisoryDialog advisory(&shell);
  ModalAnswerer answerer;
  answerer.answer = [&](QWidget* modal) {
    auto* dialog = dynamic_cast<TfrmUDLMessage*>(modal);
    if (dialog == nullptr) return false;
    dialog->DontShowBox()->setChecked(c.tick);
    if (c.viaClose) {
      dialog->CloseButton()->click();
    } else {
      dialog->close();  // the close box: rejected
    }
    return true;
  };
  EXPECT_EQ(advisory.GetUDLMessageOpts(), c.expected);
  ASSERT_EQ(answerer.seen.size(), 1U);
  EXPECT_TRUE(answerer.seen[0].modal);
}

INSTANTIATE_TEST_SUITE_P(CheckBoxRules, AdvisoryRuleTest,
                         ::testing::Values(CheckBoxCase{true, true, true}, CheckBoxCase{true, false, false},
                                           CheckBoxCase{false, true, false},
                                           CheckBoxCase{false, false, false}));

TEST_F(DialogsTest, MessageBoxesAreModalWithTheKindsIconAndTitle) {
  TQtMessageBoxes boxes;
  ModalAnswerer answerer;
  boxes.Show(TMsgKind::mkError, "Error reading file");
  boxes.Show(TMsgKind::mkWarning,
             "Flash updating to version 4.62 will cause the panel to default to factory settings!");
  boxes.Show(TMsgKind::mkInformation, "Done");
  boxes.Show(TMsgKind::mkPlain, "Com port does not exist");
  ASSERT_EQ(answerer.seen.size(), 4U);
  const QMessageBox::Icon icons[] = {QMessageBox::Critical, QMessageBox::Warning, QMessageBox::Information,
                                     QMessageBox::NoIcon};
  const char* titles[] = {"Error", "Warning", "Information", "Tarvex Flash Programmer"};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(answerer.seen[i].modal) << i;
    EXPECT_EQ(answerer.seen[i].icon, icons[i]) << i;
    EXPECT_EQ(answerer.seen[i].title, titles[i]) << i;
  }
  EXPECT_EQ(answerer.seen[0].text, "Error reading file");
  // Texts are shown as they are, never as markup.
  boxes.Show(TMsgKind::mkError, "<b>not bold</b>");
  EXPECT_EQ(answerer.seen.back().text, "<b>not bold</b>");
}

TEST_F(DialogsTest, FilterPairsBecomeQtNameFilters) {
  EXPECT_EQ(NameFilters("Hex Files (*.hex)|*.hex"), QStringList{"Hex Files (*.hex)"});
  EXPECT_EQ(NameFilters("Hex|*.hex;*.ihx|All|*"), (QStringList{"Hex (*.hex *.ihx)", "All (*)"}));
  EXPECT_TRUE(NameFilters("").isEmpty());
  EXPECT_TRUE(NameFilters("Lonely description").isEmpty());
}

class FileDialogTest : public DialogsTest {
 protected:
  void SetUp() override {
    DialogsTest::SetUp();
    ASSERT_TRUE(dir.isValid());
    QFile f(dir.filePath("CP20_V462.hex"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(":00000001FF\n");
    options.Title = "Select Firmware File";
    options.Filter = "Hex Files (*.hex)|*.hex";
    options.DefaultExt = "*.hex";
    options.InitialDir = dir.path().toStdString();
  }
  QTemporaryDir dir;
  TOpenDialogOptions options;
  TQtFileDialog dialog;
};

TEST_F(FileDialogTest, OpensInTheFolderWithTitleAndFilterAndReturnsTheChosenFile) {
  ModalAnswerer answerer;
  QString seenDir;
  QStringList seenFilters;
  QString seenSuffix;
  answerer.answer = [&](QWidget* modal) {
    auto* fd = qobject_cast<QFileDialog*>(modal);
    if (fd == nullptr) return false;
    seenDir = fd->directory().absolutePath();
    seenFilters = fd->nameFilters();
    seenSuffix = fd->defaultSuffix();
    fd->selectFile(dir.filePath("CP20_V462.hex"));
    static_cast<QDialog*>(fd)->accept();  // QFileDialog hides it
    return true;
  };
  const auto chosen = dialog.Execute(options);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, dir.filePath("CP20_V462.hex").toStdString());
  ASSERT_EQ(answerer.seen.size(), 1U);
  EXPECT_EQ(answerer.seen[0].title, "Select Firmware File");
  EXPECT_TRUE(answerer.seen[0].modal);
  EXPECT_EQ(seenDir, QDir(dir.path()).absolutePath());
  EXPECT_EQ(seenFilters, QStringList{"Hex Files (*.hex)"});
  EXPECT_EQ(seenSuffix, "hex");
}

TEST_F(FileDialogTest, CancelReturnsNothing) {
  ModalAnswerer answerer;  // rejects any dialog
  EXPECT_FALSE(dialog.Execute(options).has_value());
  EXPECT_EQ(answerer.seen.size(), 1U);
}

TEST_F(FileDialogTest, TheLastChosenFileIsPreselected) {
  options.FileName = dir.filePath("CP20_V462.hex").toStdString();
  ModalAnswerer answerer;
  QStringList preselected;
  answerer.answer = [&](QWidget* modal) {
    auto* fd = qobject_cast<QFileDialog*>(modal);
    if (fd == nullptr) return false;
    preselected = fd->selectedFiles();
    fd->reject();
    return true;
  };
  EXPECT_FALSE(dialog.Execute(options).has_value());
  EXPECT_EQ(preselected, QStringList{dir.filePath("CP20_V462.hex")});
}

TEST_F(DialogsTest, EveryPictureAndTheThemeAreBuiltIn) {
  for (const char* name : {"TarvexUK", "Icon_OK", "Icon_Error", "Icon_USB", "Icon_Hex", "Icon_Chip"}) {
    EXPECT_FALSE(TarvexPicture(name).isNull()) << name;
  }
  EXPECT_EQ(TarvexPicture("Icon_OK").size(), QSize(32, 32));
  EXPECT_EQ(TarvexPicture("Icon_USB").size(), QSize(168, 156));
  EXPECT_EQ(TarvexPicture("TarvexUK").size(), QSize(182, 57));
  EXPECT_TRUE(TarvexPicture("NoSuchPicture").isNull());
  const QString theme = TarvexThemeStyleSheet();
  EXPECT_TRUE(theme.contains("#lbNoPorts"));
  EXPECT_TRUE(theme.contains("#lbTaskType"));
}

}  // namespace
}  // namespace tarvex::test

namespace tarvex::test {
namespace {

TEST(ManualTest, ThePdfSitsBesideTheProgramWithSeveralPages) {
  QFile pdf(QString(TARVEX_PROGRAM_DIR) + "/MAN214 - Flash Programmer Instructions.pdf");
  ASSERT_TRUE(pdf.open(QIODevice::ReadOnly)) << pdf.fileName().toStdString();
  const QByteArray data = pdf.readAll();
  EXPECT_TRUE(data.startsWith("%PDF-"));
  int pages = 0;
  for (qsizetype at = data.indexOf("/Type /Page"); at >= 0; at = data.indexOf("/Type /Page", at + 1)) {
    if (at + 11 < data.size() && data[at + 11] != 's') ++pages;
  }
  EXPECT_GE(pages, 3);
}

}  // namespace
}  // namespace tarvex::test
