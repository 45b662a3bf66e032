#include "cli/FlashReport.h"

#include <algorithm>
#include <ostream>

#include "app/Main.h"

namespace tarvex::cli {

namespace {

constexpr int kBarWidth = 30;
constexpr std::size_t kVerifyRow = 3;

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

void TFlashReport::Write(std::ostream& stream, const std::string& text) {
  std::lock_guard lock(m_);
  ClearBar();
  stream << text << '\n' << std::flush;
}

void TFlashReport::Line(const std::string& text) {
  if (mode_ == TReportMode::rmNormal) Write(out_, text);
}

void TFlashReport::Verdict(const std::string& text) {
  if (mode_ != TReportMode::rmJson) Write(out_, text);
}

void TFlashReport::ErrorLine(const std::string& text) {
  Write(err_, text);
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
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (!images[i]->Visible()) {
      printed_[i] = false;  // a new run of the rows begins
      if (labels[i]->Visible()) active = labels[i]->Caption();
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
  if (terminal_) {
    const int filled = pos * kBarWidth / max;
    const std::string text = active + " [" + std::string(static_cast<std::size_t>(filled), '#') +
                             std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "] " + count;
    if (barDrawn_ && text == barText_) return;
    out_ << '\r' << text << "\033[K" << std::flush;
    barDrawn_ = true;
    barText_ = text;
    return;
  }
  const int step = pos * 10 / max;
  if (step <= barStep_) return;
  barStep_ = step;
  out_ << active << (active.empty() ? "" : " ") << count << " (" << step * 10 << "%)\n" << std::flush;
}

}  // namespace tarvex::cli
