// What `tarvex-flash flash` prints of the window while the update runs: each status row once it
// has its result, and the progress bar, redrawn in place on a terminal or as a line at every tenth
// of the way when the output goes to a file or a pipe.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

namespace tarvex {
class TfrmMain;
}

namespace tarvex::cli {

// Normal: every row and the bar; quiet: the verdict line and errors only; JSON: errors only on
// standard error, standard output kept for the one object printed at the end.
enum class TReportMode : std::uint8_t { rmNormal, rmQuiet, rmJson };

class TFlashReport {
 public:
  TFlashReport(std::ostream& out, std::ostream& err, bool terminal);

  void SetMode(TReportMode mode) { mode_ = mode; }
  // The work of the update about to start, for the overall percentage and the time left: pages
  // to erase, blocks to write and, with the verify, to read back.
  void SetPlan(int pages, int blocks, bool verify);
  // The update's last word on standard output (but for JSON).
  void Verdict(const std::string& text);

  // One line on standard output, or on standard error; a bar being drawn gives way first. An
  // error keeps the bar's line (the step where the update stood) above it.
  void Line(const std::string& text);
  void ErrorLine(const std::string& text, bool keepBar = false);
  // Prints what changed in the status rows and the bar since the last call.
  void Update(TfrmMain& frm);
  // Ends a bar left on the terminal.
  void Finish();

 private:
  void ClearBar();
  void Write(std::ostream& stream, const std::string& text, bool keepBar = false);
  // ", update 52%, about 0:12 left", or nothing without a plan.
  std::string Overall(std::size_t row, int pos);

  // The debug log may come from any thread; lines stay whole.
  std::recursive_mutex m_;
  std::ostream& out_;
  std::ostream& err_;
  bool terminal_;
  TReportMode mode_ = TReportMode::rmNormal;
  std::vector<bool> printed_;  // per status row: its result has been printed
  bool barDrawn_ = false;
  std::string barText_;
  int barMax_ = -1;
  int barPos_ = 0;
  std::string barRow_;
  int barStep_ = -1;             // tenths of the way already printed (plain output)
  std::string barLine_;          // the bar's state as a plain line
  bool barLinePrinted_ = false;  // that line is on the screen
  // The plan, in bytes that cross the line (an erased page counted as one block), and when the
  // first page began to be erased (ms of the tick clock).
  double planErase_ = 0, planWrite_ = 0, planRead_ = 0;
  bool planned_ = false;
  std::uint64_t transferStartMs_ = 0;
  bool transferStarted_ = false;
};

}  // namespace tarvex::cli
