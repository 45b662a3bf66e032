// The status rows and the progress bar as the flash command prints them from the window's view
// model: in place on a terminal, as plain lines otherwise.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "app/Main.h"
#include "cli/FlashReport.h"
#include "serial/Ticks.h"
#include "support/SteppingClock.h"

namespace tarvex {
namespace {

using std::string;

class FlashReportTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetGlobals(); }
  void TearDown() override { ResetGlobals(); }
  // The erase row under way with its bar at pos of max.
  void Erasing(int pos, int max) {
    frm.lbErase.SetVisible(true);
    frm.progBar.SetMax(max);
    frm.progBar.SetPosition(pos);
    frm.progBar.SetVisible(true);
  }
  string Take() {
    string s = out.str();
    out.str("");
    return s;
  }

  TfrmMain frm{TPlatform{}, {}};
  std::ostringstream out;
  std::ostringstream err;
};

TEST_F(FlashReportTest, TerminalRedrawsTheBarInPlaceAndClearsItForOtherLines) {
  cli::TFlashReport report(out, err, true);
  Erasing(1, 2);
  report.Update(frm);
  EXPECT_EQ(Take(), "\rErasing flash memory pages.... [" + string(15, '#') + string(15, '-') + "] 1/2\033[K");
  report.Update(frm);
  EXPECT_EQ(Take(), "") << "unchanged bar drawn again";

  // A box line on standard error first takes the bar off the terminal.
  report.ErrorLine("Error: something");
  EXPECT_EQ(Take(), "\r\033[K");
  EXPECT_EQ(err.str(), "Error: something\n");
  report.Update(frm);
  EXPECT_NE(Take().find("] 1/2"), string::npos) << "the bar comes back";

  // The row's result replaces the bar.
  frm.progBar.SetPosition(2);
  frm.imgErase.SetVisible(true);
  frm.progBar.SetVisible(false);
  report.Update(frm);
  EXPECT_EQ(Take(), "\r\033[KErasing flash memory pages.... OK\n");
  report.Update(frm);
  report.Finish();
  EXPECT_EQ(Take(), "");
}

TEST_F(FlashReportTest, PlainOutputPrintsEachTenthOnceAndEachRowOnce) {
  cli::TFlashReport report(out, err, false);
  frm.lbWriteData.SetVisible(true);
  frm.progBar.SetMax(512);
  frm.progBar.SetVisible(true);
  for (int p = 0; p <= 512; ++p) {
    frm.progBar.SetPosition(p);
    report.Update(frm);
  }
  const string lines = Take();
  EXPECT_EQ(lines.find('\r'), string::npos);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 11);
  EXPECT_NE(lines.find("Writing new flash data... 0/512 (0%)\n"), string::npos);
  EXPECT_NE(lines.find("Writing new flash data... 52/512 (10%)\n"), string::npos);
  EXPECT_NE(lines.find("Writing new flash data... 512/512 (100%)\n"), string::npos);

  // The verify's bar starts again at the same maximum in the same handling: a new run all the same.
  frm.imgWrite.SetVisible(true);
  frm.lbVerifyData.SetCaption("Verifying flash data...");
  frm.lbVerifyData.SetVisible(true);
  frm.progBar.SetPosition(0);
  report.Update(frm);
  EXPECT_EQ(Take(), "Writing new flash data... OK\nVerifying flash data... 0/512 (0%)\n");

  // A failed verify: the caption carries the verdict.
  frm.imgVerify.SetPicture("Icon_Error");
  frm.lbVerifyData.SetCaption("Verifying flash data...FAILED!");
  frm.imgVerify.SetVisible(true);
  frm.progBar.SetVisible(false);
  report.Update(frm);
  report.Update(frm);
  EXPECT_EQ(Take(), "Verifying flash data...FAILED!\n");

  // Start again: the rows are hidden, and their results print anew.
  for (auto* i : frm.ResultImages()) i->SetVisible(false);
  report.Update(frm);
  frm.imgWrite.SetVisible(true);
  report.Update(frm);
  EXPECT_EQ(Take(), "Writing new flash data... OK\n");
}

TEST_F(FlashReportTest, TheWholeUpdatesShareAndTimeLeftAndTheLastStepStaysAboveAnError) {
  test::SteppingClock clock;
  SetTickClock(&clock);
  cli::TFlashReport report(out, err, true);
  // 4 pages to erase, 100 blocks to write and read back: 204 blocks of 268 bytes on the line.
  report.SetPlan(4, 100, true);
  Erasing(0, 4);
  report.Update(frm);
  // Nothing measured yet: the line's own rate, 11520 bytes a second.
  EXPECT_NE(Take().find("] 0/4, update 0%, about 0:05 left"), string::npos);
  frm.imgErase.SetVisible(true);
  frm.lbWriteData.SetVisible(true);
  frm.progBar.SetMax(100);
  frm.progBar.SetPosition(48);  // 4 + 48 of the 204 blocks: a quarter of the update
  clock.Advance(30000);         // slower than the line: a product that takes its time
  report.Update(frm);
  // 52 blocks in 30 s: the 152 left take about 88 s at the measured rate.
  EXPECT_NE(Take().find("] 48/100, update 25%, about 1:28 left"), string::npos);

  // The lead is pulled: the bar's line stays, the error comes under it.
  report.ErrorLine("Error: Device read error", true);
  EXPECT_EQ(Take(), "\n");
  EXPECT_EQ(err.str(), "Error: Device read error\n");
  // Without a terminal the line where the update stood is printed before the error.
  cli::TFlashReport plain(out, err, false);
  plain.Update(frm);
  frm.progBar.SetPosition(49);
  plain.Update(frm);
  Take();
  plain.ErrorLine("Error: gone", true);
  EXPECT_EQ(Take().rfind("Writing new flash data... 49/100 (49%)", 0), 0u);
  SetTickClock(nullptr);
}

}  // namespace
}  // namespace tarvex
