#include "cli/FlashReport.h"

#include <algorithm>
#include <ostream>

#include "app/Main.h"
#include "serial/Ticks.h"

namespace tarvex::cli {

namespace {

constexpr int kBarWidth = 30;
constexpr std::size_t kEraseRow = 1;
constexpr std::size_t kWriteRow = 2;
constexpr std::size_t kVerifyRow = 3;
// The line: 115200 baud, ten bits a byte.
constexpr double kLineBytesPerSecond = 11520;
// What crosses the line for a block of 256 bytes, written or read: command, address, count and
// checksum, and the acknowledgements.
constexpr double kBlockBytes = 268;
// The measured rate takes over from the line's once this much of the transfer has been seen.
constexpr std::uint64_t kMeasuredAfterMs = 2000;

std::uint64_t NowMs() {
  return static_cast<std::uint64_t>(CurrentTick()) * TickLength;
}

std::string MinutesSeconds(double seconds) {
  const long s = static_cast<long>(seconds + 0.999);
  return Format("%ld:%02ld", s / 60, s % 60);
}

// A row with its result. The verify row's caption already says how it went.
std::string RowText(const TControl& label, const TControl& image, bool verifyRow) {
  const std::string& caption = label.Caption();
  if (verifyRow) return caption;
  const char* result = image.Picture() == "Icon_Error" ? "FAILED" : "OK";
  const bool dotted = !caption.empty() && caption.back() == '.';
  return caption + (dotted ? " " : ": ") + result;
}

}  // namespace

TFlashReport::TFlashReport(std::ostream& out, std::ostream& err, bool terminal)
    : out_(out), err_(err), terminal_(terminal) {}

void TFlashReport::ClearBar() {
  if (!barDrawn_) return;
  out_ << "\r\033[K" << std::flush;
  barDrawn_ = false;
  barText_.clear();
}

void TFlashReport::Write(std::ostream& stream, const std::string& text, bool keepBar) {
  std::lock_guard lock(m_);
  if (keepBar && mode_ == TReportMode::rmNormal) {
    if (barDrawn_) {
      out_ << '\n' << std::flush;  // the bar stays where it stood
      barDrawn_ = false;
      barText_.clear();
      barLinePrinted_ = true;
    } else if (!terminal_ && !barLine_.empty() && !barLinePrinted_) {
      out_ << barLine_ << '\n' << std::flush;
      barLinePrinted_ = true;
    }
  }
  ClearBar();
  stream << text << '\n' << std::flush;
}

void TFlashReport::SetPlan(int pages, int blocks, bool verify) {
  std::lock_guard lock(m_);
  planErase_ = pages * kBlockBytes;
  planWrite_ = blocks * kBlockBytes;
  planRead_ = verify ? blocks * kBlockBytes : 0;
  planned_ = blocks > 0;
  transferStarted_ = false;
}

std::string TFlashReport::Overall(std::size_t row, int pos) {
  if (!planned_ || row < kEraseRow || row > kVerifyRow) return {};
  const double total = planErase_ + planWrite_ + planRead_;
  double done = pos * kBlockBytes;
  if (row > kEraseRow) done += planErase_;
  if (row > kWriteRow) done += planWrite_;
  const std::uint64_t now = NowMs();
  if (!transferStarted_) {
    transferStarted_ = true;
    transferStartMs_ = now;
  }
  const std::uint64_t elapsed = now - transferStartMs_;
  // The line's own rate until enough has been measured; then what this line and product do.
  double rate = kLineBytesPerSecond;
  if (elapsed >= kMeasuredAfterMs && done > 0) rate = done * 1000.0 / static_cast<double>(elapsed);
  const int percent = static_cast<int>(done * 100 / total);
  return Format(", update %d%%, about %s left", percent, MinutesSeconds((total - done) / rate).c_str());
}

void TFlashReport::Line(const std::string& text) {
  if (mode_ == TReportMode::rmNormal) Write(out_, text);
}

void TFlashReport::Verdict(const std::string& text) {
  if (mode_ != TReportMode::rmJson) Write(out_, text);
}

void TFlashReport::ErrorLine(const std::string& text, bool keepBar) {
  Write(err_, text, keepBar);
}

void TFlashReport::Finish() {
  std::lock_guard lock(m_);
  ClearBar();
}

void TFlashReport::Update(TfrmMain& frm) {
  if (mode_ != TReportMode::rmNormal) return;
  std::lock_guard lock(m_);
  const std::vector<TControl*> labels = frm.StatusLabels();
  const std::vector<TControl*> images = frm.ResultImages();
  printed_.resize(labels.size(), false);
  std::string active;  // caption of the row under way: shown, without its result yet
  std::size_t activeRow = labels.size();
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (!images[i]->Visible()) {
      printed_[i] = false;  // a new run of the rows begins
      if (labels[i]->Visible()) {
        active = labels[i]->Caption();
        activeRow = i;
      }
      continue;
    }
    if (printed_[i]) continue;
    printed_[i] = true;
    Line(RowText(*labels[i], *images[i], i == kVerifyRow));
  }

  const TControl& bar = frm.progBar;
  if (!bar.Visible() || bar.Max() <= 0) {
    ClearBar();
    barMax_ = -1;
    barLine_.clear();
    return;
  }
  const int max = bar.Max();
  const int pos = std::clamp(bar.Position(), 0, max);
  // A new run of the bar: another row, another maximum, or back to the start.
  if (max != barMax_ || active != barRow_ || pos < barPos_) {
    barMax_ = max;
    barRow_ = active;
    barStep_ = -1;
  }
  barPos_ = pos;
  const std::string count = std::to_string(pos) + "/" + std::to_string(max);
  const std::string overall = Overall(activeRow, pos);
  const std::string line =
      active + (active.empty() ? "" : " ") + count + " (" + std::to_string(pos * 100 / max) + "%)" + overall;
  if (line != barLine_) {
    barLine_ = line;
    barLinePrinted_ = false;
  }
  if (terminal_) {
    const int filled = pos * kBarWidth / max;
    const std::string text = active + " [" + std::string(static_cast<std::size_t>(filled), '#') +
                             std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "] " + count +
                             overall;
    if (barDrawn_ && text == barText_) return;
    out_ << '\r' << text << "\033[K" << std::flush;
    barDrawn_ = true;
    barText_ = text;
    return;
  }
  const int step = pos * 10 / max;
  if (step <= barStep_) return;
  barStep_ = step;
  out_ << line << "\n" << std::flush;
  barLinePrinted_ = true;
}

}  // namespace tarvex::cli
