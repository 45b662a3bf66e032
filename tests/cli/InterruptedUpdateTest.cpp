// An update cut short after the erase began leaves the product in its boot loader: the program
// recognises it by one sync byte when the product link is silent, offers to finish the recorded
// update, and finishes it; nothing is written without a record, a changed file is refused, and a
// product that answers the product link never gets a sync byte.
#include <gtest/gtest.h>

#include "FlashCommandFixture.h"
#include "core/UpdateHistory.h"

namespace tarvex {
namespace {

using std::string;
using std::vector;

constexpr const char* kRecordKey =
    "Software\\Tarvex Ltd\\Tarvex Flash Programer\\1.20.0.0\\Interrupted Update";

class InterruptedUpdate : public FlashCommand {
 protected:
  void SetUp() override {
    FlashCommand::SetUp();
    keepSim = true;
    // Every frame the programmer sends, whichever command runs.
    onWrite = [this](test::SimComPort& p, const string& bytes) {
      sent.push_back(bytes);
      if (pullAtWrite > 0 && bytes == string("\x31\xCE", 2) && ++writes == pullAtWrite) {
        // The lead is pulled: the product restarts, the port's threads stop.
        UiMessagePump()->Post([this, &p] {
          sim->Restart();
          if (p.OnThreadError) p.OnThreadError("Device read error");
        });
      }
    };
  }
  // The update cut short during its third block written.
  void Interrupt() {
    pullAtWrite = 3;
    writes = 0;
    const Result r = FlashFile("fw.hex");
    pullAtWrite = 0;
    ASSERT_EQ(r.code, cli::kExitUpdateFailed) << r.err;
    ASSERT_TRUE(sim->InBootloader());
    sent.clear();
  }
  [[nodiscard]] string Recorded(const string& name) {
    auto& key = settings.keys[kRecordKey];
    return key.count(name) != 0 ? key[name].s : string();
  }
  [[nodiscard]] int Sent(const string& frame) const {
    return static_cast<int>(std::count(sent.begin(), sent.end(), frame));
  }

  vector<string> sent;
  int pullAtWrite = 0;
  int writes = 0;
};

TEST_F(InterruptedUpdate, AProductLeftInItsBootLoaderIsRecognisedAndTheRecordedUpdateFinished) {
  Interrupt();
  EXPECT_EQ(Recorded("File"), Path("fw.hex"));
  EXPECT_EQ(Recorded("Step"), "Writing new flash data...");
  EXPECT_EQ(Recorded("Port"), "COM7");
  EXPECT_EQ(settings.keys[kRecordKey]["Memory Size Code"].i, 5) << "the PX-22's 1 MB";

  // Without --resume: told, and nothing is erased or written.
  const Result plain = FlashFile("fw.hex");
  EXPECT_EQ(plain.code, cli::kExitProductRefused);
  EXPECT_NE(plain.err.find("run the command again with --resume"), string::npos) << plain.err;
  EXPECT_EQ(Sent(string(1, '\x7F')), 1) << "one sync byte, after the product link was silent";
  EXPECT_EQ(Sent(string("\x44\xBB", 2)) + Sent(string("\x31\xCE", 2)), 0);

  const Result status = Cli({"status", "--port", "COM7"});
  EXPECT_EQ(status.code, cli::kExitOk);
  EXPECT_NE(status.out.find("COM7: a boot loader answers"), string::npos) << status.out;

  // With --resume: sync, erase, write, verify and run, then the product link again.
  const Result r = FlashFile("fw.hex", {"--resume", "--wait-reconnect"});
  ASSERT_EQ(r.code, cli::kExitOk) << r.out << r.err;
  EXPECT_TRUE(FlashMatchesFile());
  EXPECT_FALSE(sim->InBootloader());
  EXPECT_TRUE(r.OutHas("Verifying flash data...OK"));
  const vector<string> lines = r.OutLines();
  const auto after = std::find(lines.begin(), lines.end(), "Product after the update:");
  ASSERT_NE(after, lines.end()) << r.out;
  EXPECT_TRUE(Result::Has({after, lines.end()}, "  Software Version: 2.05"));
  EXPECT_EQ(Recorded("File"), "") << "a finished update clears the record";
  EXPECT_EQ(FlashFile("fw.hex", {"--resume"}).code, cli::kExitPort) << "nothing to resume any more";
}

TEST_F(InterruptedUpdate, NoRecordOrAnotherFileWritesNothingAndAWorkingProductGetsNoSync) {
  // A working product: the product link answers, no sync byte is sent.
  const Result running = Cli({"status", "--port", "COM7"});
  EXPECT_EQ(running.code, cli::kExitOk);
  EXPECT_NE(running.out.find("COM7: the product link answers:"), string::npos) << running.out;
  EXPECT_EQ(Sent(string(1, '\x7F')), 0);

  // The file changed since the update was cut short: refused with the reason.
  Interrupt();
  WriteFile("fw.hex", test::FullImageHex(2, 120, 2, 6));
  const Result changed = FlashFile("fw.hex", {"--resume"});
  EXPECT_EQ(changed.code, cli::kExitFileRefused);
  EXPECT_NE(changed.err.find("whose update was interrupted"), string::npos) << changed.err;
  EXPECT_EQ(Sent(string("\x44\xBB", 2)), 0);

  // In its boot loader with no record: told, nothing written.
  settings.keys.clear();
  const Result unknown = FlashFile("fw.hex", {"--resume"});
  EXPECT_EQ(unknown.code, cli::kExitProductRefused);
  EXPECT_TRUE(
      unknown.ErrHas("Error: The product on COM7 is waiting in its boot loader, but no interrupted update is "
                     "recorded for it. "
                     "Nothing has been written. Please contact technical support."))
      << unknown.err;
  EXPECT_EQ(Sent(string("\x44\xBB", 2)) + Sent(string("\x31\xCE", 2)), 0);

  // Nothing on the line at all.
  TProductConfig silent;
  silent.Faults.Silent = true;
  keepSim = false;
  const Result none = FlashFile("fw.hex", {}, silent);
  EXPECT_EQ(none.code, cli::kExitPort);
  EXPECT_TRUE(
      none.ErrHas("Error: No product answered on COM7. Check that the USB lead is connected and that the "
                  "product is powered, "
                  "then click \"Connect\" again."))
      << none.err;
}

}  // namespace
}  // namespace tarvex
