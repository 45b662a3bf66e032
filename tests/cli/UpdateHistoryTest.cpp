// The update history and the command's output for scripts, against the product emulator: what is
// kept for a passed, a failed-verify and a pulled-lead update, a history that cannot be written,
// `history`, `--json`, `--version` and usage errors.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "FlashCommandFixture.h"
#include "core/UpdateHistory.h"
#include "firmware/Sha256.h"
#include "support/Json.h"

namespace tarvex {
namespace {

using std::string;
using std::vector;

class UpdateHistory : public FlashCommand {
 protected:
  [[nodiscard]] string HistoryPath() const { return LogsFolderPath() + kPathSep + kHistoryFile; }
  // The records after the header, which must be the program's.
  [[nodiscard]] vector<vector<string>> Records() const {
    std::ifstream in(fs::u8path(HistoryPath()), std::ios::binary);
    const string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    vector<vector<string>> rows;
    EXPECT_TRUE(ParseCsv(text, rows));
    EXPECT_FALSE(rows.empty());
    if (rows.empty()) return rows;
    EXPECT_EQ(rows[0], HistoryHeader());
    for (const auto& r : rows) EXPECT_EQ(r.size(), HistoryHeader().size());
    return {rows.begin() + 1, rows.end()};
  }
  static string Field(const vector<string>& record, const string& name) {
    const auto& h = HistoryHeader();
    const auto at = static_cast<std::size_t>(std::find(h.begin(), h.end(), name) - h.begin());
    return at < record.size() ? record[at] : "<no " + name + ">";
  }
  // What the command printed of the product, as the history must keep it.
  static string Printed(const Result& r, const string& caption) {
    for (const string& l : r.OutLines()) {
      if (l.rfind("  " + caption + " ", 0) == 0) return l.substr(caption.size() + 3);
    }
    return "<not printed>";
  }
  static vector<string> Steps(const vector<string>& record) {
    return {Field(record, "Boot loader"), Field(record, "Erase"), Field(record, "Write"),
            Field(record, "Verify"), Field(record, "Run")};
  }
};

TEST_F(UpdateHistory, EachAttemptIsKeptWithTheProductTheFileAndHowEveryStepWent) {
  TProductConfig panel;
  panel.SerialNo = "A1,B2 \"7\"      ";  // a comma and quotes for the CSV, padded as products do
  // Passed.
  const Result ok = FlashFile("fw.hex", {}, panel);
  ASSERT_EQ(ok.code, cli::kExitOk) << ok.err;
  // The verify finds a flipped byte.
  TProductConfig flipped = panel;
  flipped.Faults.FlipAddress = 0x08000900;
  ASSERT_EQ(FlashFile("fw.hex", {}, flipped).code, cli::kExitVerifyFailed);
  // The lead is pulled during the third block written.
  int writes = 0;
  onWrite = [&writes](test::SimComPort& p, const string& bytes) {
    if (bytes == string("\x31\xCE", 2) && ++writes == 3) {
      UiMessagePump()->Post([&p] {
        if (p.OnThreadError) p.OnThreadError("Device read error");
      });
    }
  };
  ASSERT_EQ(FlashFile("fw.hex", {}, panel).code, cli::kExitUpdateFailed);
  onWrite = nullptr;

  const auto records = Records();
  ASSERT_EQ(records.size(), 3u);
  {
    // RFC 4180 as written, not only as read back: quoted, quotes doubled, CR LF line ends.
    std::ifstream raw(fs::u8path(HistoryPath()), std::ios::binary);
    const string text((std::istreambuf_iterator<char>(raw)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find(",\"A1,B2 \"\"7\"\"\","), string::npos) << text;
    EXPECT_EQ(text.rfind("Date and time,Program version,Port,", 0), 0u);
    std::size_t ends = 0;
    for (std::size_t at = text.find("\r\n"); at != string::npos; at = text.find("\r\n", at + 2)) ++ends;
    EXPECT_EQ(ends, 4u) << "the header and three records, each ended by CR LF";
  }
  std::ifstream in(fs::u8path(Path("fw.hex")), std::ios::binary);
  const string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const auto& r : records) {
    EXPECT_TRUE(std::regex_match(Field(r, "Date and time"),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")))
        << Field(r, "Date and time");
    EXPECT_EQ(Field(r, "Program version"), kAppVersion);
    EXPECT_EQ(Field(r, "Port"), "COM7");
    EXPECT_EQ(Field(r, "Product type"), Printed(ok, "Product Type:"));
    EXPECT_EQ(Field(r, "Product code"), "120");
    EXPECT_EQ(Field(r, "Version before"), "1.00");
    EXPECT_EQ(Field(r, "Microcontroller"), Printed(ok, "Microcontroller:"));
    EXPECT_EQ(Field(r, "File"), Path("fw.hex"));
    EXPECT_EQ(Field(r, "File SHA-256"), Sha256Hex(file));
    EXPECT_EQ(Field(r, "File version"), "2.05");
    EXPECT_GT(std::stod(Field(r, "Duration (s)")), 0.0);
    EXPECT_EQ(Field(r, "Serial number"), "A1,B2 \"7\"");  // without the padding
  }
  EXPECT_EQ(Field(records[0], "Unique ID"), Printed(ok, "Unique ID:"));

  EXPECT_EQ(Steps(records[0]), (vector<string>{"passed", "passed", "passed", "passed", "passed"}));
  EXPECT_EQ(Field(records[0], "Verdict"), "passed");
  EXPECT_EQ(Field(records[0], "Error"), "");

  EXPECT_EQ(Steps(records[1]), (vector<string>{"passed", "passed", "passed", "failed", "passed"}));
  EXPECT_EQ(Field(records[1], "Verdict"), "failed");
  EXPECT_NE(Field(records[1], "Error").find("differs from the file"), string::npos);

  EXPECT_EQ(Steps(records[2]), (vector<string>{"passed", "passed", "failed", "skipped", "skipped"}));
  EXPECT_EQ(Field(records[2], "Verdict"), "failed");
  EXPECT_EQ(Field(records[2], "Error").rfind("Device read error\nThe update did not finish.", 0), 0u)
      << Field(records[2], "Error");

  // The table: the header and one row per attempt, the last N with --last.
  const Result all = Cli({"history"});
  EXPECT_EQ(all.code, cli::kExitOk) << all.err;
  ASSERT_EQ(all.OutLines().size(), 4u) << all.out;
  EXPECT_EQ(all.OutLines()[0].rfind("Date and time", 0), 0u);
  const Result last = Cli({"history", "--last", "1"});
  ASSERT_EQ(last.OutLines().size(), 2u) << last.out;
  EXPECT_NE(last.OutLines()[1].find("Device read error"), string::npos) << last.out;
  EXPECT_EQ(last.OutLines()[1].find("The update did not finish"), string::npos)
      << "the error's first line only";
}

TEST_F(UpdateHistory, AHistoryThatCannotBeWrittenIsToldOnceAndTheUpdateGoesOn) {
  fs::create_directories(fs::u8path(HistoryPath()));  // a folder where the file belongs
  const Result r = FlashFile("fw.hex");
  EXPECT_EQ(r.code, cli::kExitOk) << r.err;
  EXPECT_TRUE(FlashMatchesFile());
  vector<string> warnings;
  for (const string& l : r.ErrLines()) {
    if (l.rfind("Warning: The update history could not be written to \"" + HistoryPath() + "\"", 0) == 0) {
      warnings.push_back(l);
    }
  }
  EXPECT_EQ(warnings.size(), 1u) << r.err;
  EXPECT_TRUE(r.OutHas("Update complete: firmware 2.05 started."));
  EXPECT_EQ(Cli({"history"}).code, cli::kExitFailure);
}

TEST_F(UpdateHistory, JsonQuietVersionAndUsageErrorsForScripts) {
  const Result j = FlashFile("fw.hex", {"--json"});
  ASSERT_EQ(j.code, cli::kExitOk) << j.err;
  const test::JsonValue v = test::JsonReader::Parse(j.out);  // the whole of standard output
  EXPECT_EQ(v["product"]["port"].text, "COM7");
  EXPECT_EQ(v["product"]["software_version"].text, "1.00");
  EXPECT_EQ(v["file"]["path"].text, Path("fw.hex"));
  EXPECT_EQ(v["file"]["version"].text, "2.05");
  EXPECT_EQ(v["file"]["sha256"].text.size(), 64u);
  for (const char* step : {"boot_loader", "erase", "write", "verify", "run"}) {
    EXPECT_EQ(v["steps"][step].text, "passed") << step;
  }
  EXPECT_EQ(v["verdict"].text, "passed");
  EXPECT_EQ(v["exit_code"].number, 0);
  EXPECT_TRUE(v["error"].IsNull());
  EXPECT_TRUE(v["report"].IsNull());
  EXPECT_EQ(v["history"].text, HistoryPath());

  TProductConfig flipped;
  flipped.Faults.FlipAddress = 0x08000900;
  const Result bad = FlashFile("fw.hex", {"--json"}, flipped);
  const test::JsonValue b = test::JsonReader::Parse(bad.out);
  EXPECT_EQ(b["verdict"].text, "failed");
  EXPECT_EQ(b["exit_code"].number, cli::kExitVerifyFailed);
  EXPECT_EQ(b["steps"]["verify"].text, "failed");
  EXPECT_EQ(b["report"].text, LogsFolderPath() + kPathSep + "Verification Data.txt");
  EXPECT_NE(b["error"].text.find("the flash differs from the file"), string::npos);
  ASSERT_FALSE(b["messages"].items.empty());
  EXPECT_EQ(b["messages"].items.back().text.rfind("Error: The new firmware in the product differs", 0), 0u);

  const Result quiet = FlashFile("fw.hex", {"--quiet"});
  EXPECT_EQ(quiet.code, cli::kExitOk);
  EXPECT_EQ(quiet.out, "Update complete: firmware 2.05 started.\n");

  EXPECT_EQ(Cli({"--version"}).out, string("tarvex-flash ") + kAppVersion + "\n");
  EXPECT_EQ(Cli({"-V"}).code, cli::kExitOk);
  const Result usage = Flash({"--port", "COM7", "--bogus"});
  EXPECT_EQ(usage.code, cli::kExitUsage);
  EXPECT_EQ(usage.err, "tarvex-flash flash: unknown option '--bogus'\nTry 'tarvex-flash --help'.\n");
  EXPECT_EQ(Cli({"frobnicate"}).err,
            "tarvex-flash: unknown command 'frobnicate'\nTry 'tarvex-flash --help'.\n");
  EXPECT_EQ(Cli({}).code, cli::kExitUsage);
  EXPECT_EQ(Cli({"history", "--last", "0"}).code, cli::kExitUsage);
}

}  // namespace
}  // namespace tarvex
