// `tarvex-flash flash`: connect, identify, open and judge the file, Start, all through the same
// TfrmMain the desktop program shows. This file only clicks, pumps the window's messages, watches
// its view model and turns what it sees into lines and an exit status.
#include "cli/FlashCommand.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <ostream>
#include <stdexcept>

#include "app/Main.h"
#include "app/platform/ConsoleServices.h"
#include "app/platform/SystemServices.h"
#include "cli/Cli.h"
#include "cli/FlashReport.h"
#include "devices/PortNames.h"
#include "firmware/FlashImage.h"
#include "link/ComsTasks.h"
#include "serial/PlainMessagePump.h"
#include "serial/Ticks.h"

namespace tarvex::cli {

namespace {

void PrintFlashHelp(std::ostream& out) {
  out << "Usage: tarvex-flash flash --port COM<n> --file FW.hex [--no-verify] [--verbose]\n"
         "                          [--wait-reconnect] [--resume] [--quiet | --json]\n\n"
         "Updates the firmware of the product on the given port exactly as the desktop program\n"
         "does: connects and identifies the product, opens and judges the file, then erases,\n"
         "writes, reads back and compares the flash pages the file uses and starts the new\n"
         "firmware. Message boxes appear as lines on standard error.\n\n"
         "Options:\n"
         "  --port COM<n>     serial port of the product's USB lead (as the port list names it)\n"
         "  --file FW.hex     firmware file (Intel HEX)\n"
         "  --no-verify       skip reading the flash back after writing it\n"
         "  --verbose         also print the debug log on standard error\n"
         "  --wait-reconnect  after a successful update wait up to 60 s for the product to come\n"
         "                    back and print its new identity\n"
         "  --resume          finish an update that was interrupted after the erase began: the\n"
         "                    product waits in its boot loader; the file must be the one recorded\n"
         "  --quiet           print only the verdict line and errors\n"
         "  --json            print one JSON object at the end instead of the progress: the product,\n"
         "                    the file (with its SHA-256), each step (passed, failed or skipped), the\n"
         "                    verdict, the exit code, the error and every message, the verify report\n"
         "                    and the update history; errors still go to standard error\n"
         "  -h, --help        show this help\n\n"
         "Every update attempt is added to \"Update History.csv\" in the Logs folder\n"
         "('tarvex-flash history' shows it).\n\n"
         "Exit status:\n"
         "  0  the new firmware was started and the verify passed (or was skipped)\n"
         "  2  wrong usage\n"
         "  3  port problem: no such port, it cannot be opened, or no product answers on it\n"
         "  4  product refused: it may not be updated (version, NVM lock, no remote update)\n"
         "  5  file refused: unreadable, empty or not for this product\n"
         "  6  update failed: the product stopped answering or refused a command\n"
         "  7  verify failed: the new firmware runs but its flash differs from the file\n"
         "     (the differences are in \"Verification Data.txt\" in the Logs folder)\n"
         "  8  with --wait-reconnect: the product was not identified again in time\n"
         "  130  stopped by Ctrl-C: at once before the flash is erased; while it is being erased,\n"
         "       written or verified only by a second Ctrl-C within 5 s (the product then waits\n"
         "       in its boot loader without working firmware)\n"
         "  143  stopped by SIGTERM, at once\n";
}

// Keeps nothing: a production line must not change the installer's remembered port or folder.
class TNullSettingsKey : public ISettingsKey {
 public:
  [[nodiscard]] bool ValueExists(const std::string& /*name*/) const override { return false; }
  [[nodiscard]] std::int32_t ReadInteger(const std::string& name) const override {
    throw std::out_of_range(name);
  }
  [[nodiscard]] std::string ReadString(const std::string& name) const override {
    throw std::out_of_range(name);
  }
  void WriteInteger(const std::string& /*name*/, std::int32_t /*value*/) override {}
  void WriteString(const std::string& /*name*/, const std::string& /*value*/) override {}
  void Close() override {}
};

// Only the record of an interrupted update is the installer's and the command's alike: it goes to
// the real store, so that either can finish what the other began.
class TCommandSettingsStore : public ISettingsStore {
 public:
  ISettingsStore* Real = nullptr;
  std::unique_ptr<ISettingsKey> OpenKey(const std::string& path, bool canCreate) override {
    static const std::string kShared = "\\Interrupted Update";
    const bool shared = path.size() > kShared.size() &&
                        path.compare(path.size() - kShared.size(), kShared.size(), kShared) == 0;
    if (shared && Real != nullptr) return Real->OpenKey(path, canCreate);
    return std::make_unique<TNullSettingsKey>();
  }
};

// "com5" or "COM5" as the list names it, or nothing.
std::optional<std::string> PortName(const std::string& text) {
  std::string upper = text;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (!ComNumberOf(upper)) return std::nullopt;
  return upper;
}

class TFlashSession : public IMessageBoxes, public IDebugOutput {
 public:
  TFlashSession(std::ostream& out, std::ostream& err, const TFlashServices& services, bool verbose)
      : services_(services), verbose_(verbose), report_(out, err, services.Terminal) {}

  TFlashSession(const TFlashSession&) = delete;
  TFlashSession& operator=(const TFlashSession&) = delete;

  ~TFlashSession() override {
    if (frm_) {
      try {
        frm_->FormClose();
      } catch (const std::exception&) {
        // Closing a port whose device has gone: nothing left to report.
      }
    }
    frm_.reset();
    port_.reset();
    CommsJob.reset();
    SetDebugOutput(nullptr);
    SetUiMessagePump(nullptr);
  }

  int Run(const std::string& portName, const std::string& file, bool noVerify, bool waitReconnect,
          bool resume);
  // What answers on the port: the product link, a boot loader, or nothing.
  int Status(const std::string& portName);

  // Message boxes: one line each on standard error.
  void Show(TMsgKind kind, const std::string& text) override {
    messages_.push_back(MessageBoxLine(kind, text));
    report_.ErrorLine(MessageBoxLine(kind, text), kind == TMsgKind::mkError);
    ++boxes_;
    activity_ = true;
  }
  // The debug log: on standard error with --verbose, and to the system's debugger output where
  // it has one of its own.
  void Output(const std::string& line) override {
    if (verbose_) report_.ErrorLine("debug: " + line);
    if (system_.DebugOutput) system_.DebugOutput->Output(line);
    activity_ = true;
  }

 private:
  enum class TWaitEnd { weDone, weStalled, weTimedOut, weStopped };

  bool Setup(bool noVerify, bool waitReconnect);
  // Chooses the port and connects: kExitOk once the connect has ended (identified or not), or the
  // exit status of a failure already told.
  int Connect(const std::string& portName, TWaitEnd& identified);
  // Runs a click or another handler as the message loop would: what escapes it is reported.
  template <typename F>
  void Handle(F&& f) {
    try {
      f();
    } catch (const std::exception& e) {
      frm_->ShowException(e);
    }
    report_.Update(*frm_);
  }
  // Handles the window's messages until done() holds, limitTicks pass (0: no limit), or
  // (stallTicks > 0) that long passes without progress() changing.
  TWaitEnd PumpUntil(const std::function<bool()>& done, std::int32_t limitTicks, std::int32_t stallTicks,
                     const std::function<std::vector<int>()>& progress = nullptr);
  // A stop request from the user; true when the command is to stop now (stopCode_ set).
  bool StopRequested(int request);
  // The flash is being changed: stopping now leaves the product without working firmware.
  [[nodiscard]] bool FlashBeingChanged() const;
  // The last line of a stopped command: where the update stood.
  int Stopped();
  void PrintProduct(const std::string& heading);
  void PrintFile();
  int Fail(int code, const std::string& text) {
    report_.ErrorLine("tarvex-flash flash: " + text, true);
    error_ = text;
    return code;
  }

 public:
  void SetMode(TReportMode mode) { report_.SetMode(mode); }
  // The whole run as one JSON object, for scripts.
  [[nodiscard]] std::string Json(int code) const;

 private:
  std::string error_;                  // the command's last word on a failure
  std::vector<std::string> messages_;  // every message box, as its line

  const TFlashServices& services_;
  bool verbose_;
  TFlashReport report_;
  int boxes_ = 0;
  std::atomic<bool> activity_{false};
  int stopCode_ = 0;
  std::optional<std::uint32_t> warnedAt_;  // tick of the first Ctrl-C during a flash change

  // Destroyed in reverse: the window first, the pump last.
  TPlainMessagePump pump_;
  TSystemServices system_ = MakeSystemServices();
  TCommandSettingsStore settings_;
  PresetFileDialog dialog_;
  TFileUpdateHistory history_;
  std::unique_ptr<IComPort> port_;
  std::unique_ptr<TfrmMain> frm_;
};

std::string JsonText(const std::string& s) {
  std::string j = "\"";
  for (const char c : s) {
    switch (c) {
      case '"': j += "\\\""; break;
      case '\\': j += "\\\\"; break;
      case '\n': j += "\\n"; break;
      case '\r': j += "\\r"; break;
      case '\t': j += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          j += Format("\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
        } else {
          j += c;
        }
    }
  }
  return j + "\"";
}

// A string, or null when there is nothing to tell.
std::string JsonOrNull(const std::string& s) {
  return s.empty() ? "null" : JsonText(s);
}

std::string TFlashSession::Json(int code) const {
  const TfrmMain* f = frm_.get();
  const auto caption = [f](const TControl TfrmMain::*control) {
    if (f == nullptr) return std::string("null");
    return JsonOrNull(TrimTrailingBlanks((f->*control).Caption()));  // a serial number's padding
  };
  std::string j = "{\"product\":{";
  j += "\"port\":" +
       JsonOrNull(port_ != nullptr && f != nullptr && f->PortIdx > 0 ? Format("COM%d", f->PortIdx) : "");
  j += ",\"type\":" + caption(&TfrmMain::lbProductType);
  j += ",\"software_version\":" + caption(&TfrmMain::lbSoftwareVer);
  j += ",\"serial_number\":" + caption(&TfrmMain::lbSerialNo);
  j += ",\"unique_id\":" + caption(&TfrmMain::lbGuid);
  j += ",\"microcontroller\":" + caption(&TfrmMain::lbMicro);
  j += "},\"file\":{";
  j += "\"path\":" + caption(&TfrmMain::edFileName);
  j += ",\"product\":" + caption(&TfrmMain::lbFileProduct);
  j += ",\"version\":" + caption(&TfrmMain::lbFileVersion);
  j += ",\"microcontroller\":" + caption(&TfrmMain::lbFileMicro);
  j += ",\"sha256\":" + (f != nullptr ? JsonOrNull(f->FileSha256) : std::string("null"));
  j += "},\"steps\":{";
  static const char* const kSteps[kHistorySteps] = {"boot_loader", "erase", "write", "verify", "run"};
  for (std::size_t i = 0; i < kHistorySteps; ++i) {
    const TStepResult r = f != nullptr && f->LastHistory ? f->LastHistory->Steps[i] : TStepResult::srSkipped;
    j += std::string(i == 0 ? "" : ",") + "\"" + kSteps[i] + "\":" + JsonText(StepResultText(r));
  }
  j += "},\"verdict\":" + JsonText(code == kExitOk ? "passed" : "failed");
  j += ",\"exit_code\":" + std::to_string(code);
  j += ",\"error\":" + JsonOrNull(code == kExitOk ? "" : error_);
  j += ",\"messages\":[";
  for (std::size_t i = 0; i < messages_.size(); ++i) j += (i == 0 ? "" : ",") + JsonText(messages_[i]);
  j += "],\"report\":" +
       JsonOrNull(f != nullptr && f->VerifyReportWritten ? LogsFolder + kVerifyReportFile : std::string());
  j += ",\"history\":" + JsonOrNull(LogsFolder.empty() ? std::string() : LogsFolder + kHistoryFile);
  return j + "}";
}

bool TFlashSession::Setup(bool noVerify, bool waitReconnect) {
  pump_.SetOwnerThread();
  SetUiMessagePump(&pump_);
  SetDebugOutput(this);
  ResetGlobals();
  CommsJob.reset();

  IPortEnumerator* ports = services_.Ports != nullptr ? services_.Ports : system_.Ports.get();
  if (!services_.MakeComPort) return false;

  TPortContext context;
  if (services_.Ports == nullptr) context.DevicePath = system_.DevicePath;
  port_ = services_.MakeComPort(context);
  if (!port_) return false;

  TPlatform platform;
  settings_.Real = services_.Settings != nullptr ? services_.Settings : system_.Settings.get();
  platform.Settings = &settings_;
  platform.Folders = services_.Folders != nullptr ? services_.Folders : system_.Folders.get();
  platform.MessageBoxes = this;
  platform.FileDialog = &dialog_;
  platform.History = &history_;
  platform.Ports = ports;
  platform.Pump = &pump_;
  platform.ComPort = port_.get();
  if (waitReconnect)
    platform.UsbBackend = services_.MakeUsbBackend ? services_.MakeUsbBackend : system_.UsbBackend;
  std::vector<std::string> switches;
  if (noVerify) switches.emplace_back("/NV");
  frm_ = std::make_unique<TfrmMain>(platform, switches);
  frm_->VM.AddObserver([this](const TControl&) { activity_ = true; });
  Handle([this] { frm_->FormCreate(); });
  return true;
}

TFlashSession::TWaitEnd TFlashSession::PumpUntil(const std::function<bool()>& done, std::int32_t limitTicks,
                                                 std::int32_t stallTicks,
                                                 const std::function<std::vector<int>()>& progress) {
  const std::uint32_t start = CurrentTick();
  std::uint32_t lastActivity = start;
  std::vector<int> seen = progress ? progress() : std::vector<int>{};
  for (;;) {
    if (done()) return TWaitEnd::weDone;
    if (services_.TakeStopRequest) {
      if (const int request = services_.TakeStopRequest(); request != 0 && StopRequested(request)) {
        return TWaitEnd::weStopped;
      }
    }
    int handled = 0;
    Handle([&] { handled = pump_.PumpOne(); });
    if (done()) return TWaitEnd::weDone;
    const std::uint32_t now = CurrentTick();
    if (progress) {
      if (auto p = progress(); p != seen) {
        seen = std::move(p);
        lastActivity = now;
      }
    } else if (activity_.exchange(false)) {
      lastActivity = now;
    }
    if (limitTicks > 0 && now - start > static_cast<std::uint32_t>(limitTicks)) return TWaitEnd::weTimedOut;
    if (stallTicks > 0 && now - lastActivity > static_cast<std::uint32_t>(stallTicks)) {
      return TWaitEnd::weStalled;
    }
    if (handled != 0 && handled != WM_QUIT) continue;
    // Sleeps until a message comes; a tick at most, so the deadlines are checked.
    pump_.WaitForMessage(std::chrono::steady_clock::now() + std::chrono::milliseconds(TickLength));
  }
}

bool TFlashSession::FlashBeingChanged() const {
  // From the boot loader's answer to the sync (the erase follows at once) to the new firmware's start.
  return frm_ && frm_->FlashInProgress && BootloaderMode && frm_->ComsState == TComsState::csConnected;
}

bool TFlashSession::StopRequested(int request) {
  if (request == kExitInterrupted && FlashBeingChanged()) {
    const std::uint32_t now = CurrentTick();
    const std::uint32_t window = 5000 / TickLength;
    if (!warnedAt_ || now - *warnedAt_ > window) {
      warnedAt_ = now;
      report_.ErrorLine(
          "tarvex-flash flash: stopping now leaves the product without working firmware; the update goes "
          "on. Press Ctrl-C again within 5 s to stop anyway.");
      return false;
    }
  }
  stopCode_ = request;
  return true;
}

int TFlashSession::Stopped() {
  TfrmMain& f = *frm_;
  const bool changing = FlashBeingChanged();
  std::string where = "before anything was written";
  if (changing) {
    // The last status row shown is the step under way.
    std::string step;
    for (const TControl* l : f.StatusLabels()) {
      if (l->Visible()) step = l->Caption();
    }
    while (!step.empty() && step.back() == '.') step.pop_back();
    where = "during \"" + step + "\"";
    if (f.progBar.Visible() && f.progBar.Max() > 0) {
      where += Format(" (%d of %d)", f.progBar.Position(), f.progBar.Max());
    }
  }
  // The port is closed and released before the last line.
  try {
    f.ClosePort();
  } catch (const std::exception&) {
    // A port whose device has gone: nothing left to close.
  }
  std::string text = std::string(stopCode_ == kExitTerminated ? "terminated" : "interrupted") + " " + where;
  if (changing) {
    text +=
        "; the product waits in its boot loader without working firmware. Run the update again to "
        "finish it";
  }
  report_.Finish();
  f.FinishHistory(false, "tarvex-flash: " + text);
  return Fail(stopCode_, text);
}

void TFlashSession::PrintProduct(const std::string& heading) {
  TfrmMain& f = *frm_;
  report_.Line(heading);
  const std::pair<const TControl*, const TControl*> rows[] = {{&f.lbCapProductType, &f.lbProductType},
                                                              {&f.lbCapSoftwareVer, &f.lbSoftwareVer},
                                                              {&f.lbCapSerialNo, &f.lbSerialNo},
                                                              {&f.lbCapGuid, &f.lbGuid},
                                                              {&f.lbCapMicro, &f.lbMicro}};
  for (const auto& [cap, value] : rows) report_.Line("  " + cap->Caption() + " " + value->Caption());
}

void TFlashSession::PrintFile() {
  TfrmMain& f = *frm_;
  report_.Line("Firmware file:");
  const std::pair<const TControl*, const TControl*> rows[] = {{&f.lbCapFlashFile, &f.edFileName},
                                                              {&f.lbCapFileProduct, &f.lbFileProduct},
                                                              {&f.lbCapFileVersion, &f.lbFileVersion},
                                                              {&f.lbCapFileMicro, &f.lbFileMicro}};
  for (const auto& [cap, value] : rows) report_.Line("  " + cap->Caption() + " " + value->Caption());
}

int TFlashSession::Connect(const std::string& portName, TWaitEnd& identified) {
  TfrmMain& f = *frm_;
  const auto& items = f.cbComPort.Items();
  const auto it = std::find(items.begin(), items.end(), portName);
  if (it == items.end()) {
    std::string known;
    for (const auto& i : items) known += (known.empty() ? "" : ", ") + i;
    return Fail(kExitPort,
                portName + " is not among the serial ports (" + (known.empty() ? "none" : known) + ")");
  }
  f.cbComPort.SetItemIndex(static_cast<int>(it - items.begin()));
  Handle([&] { f.btnConnectClick(); });
  if (!f.PortOpen) return Fail(kExitPort, "cannot open " + portName);
  // Silence on the product link is followed by one sync byte asking for a boot loader.
  identified = PumpUntil([&f] { return CommsJob == nullptr && !f.BootProbe; }, services_.IdentifyTicks, 0);
  if (identified == TWaitEnd::weStopped) return Stopped();
  return kExitOk;
}

int TFlashSession::Status(const std::string& portName) {
  if (!Setup(false, false)) return Fail(kExitPort, "no serial port component in this build");
  TfrmMain& f = *frm_;
  TWaitEnd identified = TWaitEnd::weDone;
  if (const int code = Connect(portName, identified); code != kExitOk) return code;
  if (!f.lbSoftwareVer.Caption().empty() && !f.BootloaderWaiting) {
    PrintProduct(portName + ": the product link answers:");
    return kExitOk;
  }
  if (f.BootloaderWaiting) {
    report_.Verdict(portName + ": a boot loader answers: the product waits for its firmware" +
                    std::string(f.ResumeUpdate
                                    ? " (an interrupted update is recorded; finish it with flash --resume)"
                                    : " (no interrupted update is recorded for it)"));
    return kExitOk;
  }
  return Fail(kExitPort, "nothing answers on " + portName);
}

int TFlashSession::Run(const std::string& portName, const std::string& file, bool noVerify,
                       bool waitReconnect, bool resume) {
  if (!Setup(noVerify, waitReconnect)) return Fail(kExitPort, "no serial port component in this build");
  TfrmMain& f = *frm_;

  // Connect and identify.
  TWaitEnd identified = TWaitEnd::weDone;
  if (const int code = Connect(portName, identified); code != kExitOk) return code;
  if (f.BootloaderWaiting && !f.ResumeUpdate) {
    return Fail(kExitProductRefused,
                "the product on " + portName +
                    " waits in its boot loader and no interrupted update is recorded for it; "
                    "nothing was written");
  }
  if (f.ResumeUpdate && !resume) {
    PrintProduct("Product on " + portName + " (waiting in its boot loader):");
    return Fail(kExitProductRefused,
                "the update of the product on " + portName +
                    " was interrupted; run the command again with --resume to finish it");
  }
  if (resume && !f.ResumeUpdate) {
    if (!f.lbSoftwareVer.Caption().empty()) PrintProduct("Product on " + portName + ":");
    return Fail(kExitPort, "no boot loader answers on " + portName +
                               (f.lbSoftwareVer.Caption().empty()
                                    ? std::string()
                                    : ": the product runs its firmware (update it without --resume)"));
  }
  if (!f.ProductReady) {
    // The labels are cleared by Connect and filled once the product has told who it is.
    if (!f.lbSoftwareVer.Caption().empty()) {
      PrintProduct("Product on " + portName + ":");
      return Fail(kExitProductRefused, "the product cannot be updated");
    }
    if (identified == TWaitEnd::weTimedOut)
      return Fail(kExitPort, "the product on " + portName + " did not identify itself");
    if (f.LinkGiveUp == TLinkGiveUp::lgRefused)
      return Fail(kExitProductRefused, "the product refused the connection");
    if (f.LinkGiveUp == TLinkGiveUp::lgBadReply)
      return Fail(kExitPort, "the product on " + portName + " did not answer correctly");
    if (f.LinkGiveUp == TLinkGiveUp::lgLineLost)
      return Fail(kExitPort, "the connection to " + portName + " was lost");
    return Fail(kExitPort, "no answer from a product on " + portName);
  }
  PrintProduct("Product on " + portName + ":");

  // The firmware file, judged against that product.
  Handle([&] { f.btnNextClick(); });
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(PathOf(file), ec);
  dialog_.Answer = ec ? file : Utf8Of(absolute);
  Handle([&] { f.btnOpenHexClick(); });
  if (!f.edFileName.Caption().empty()) PrintFile();
  if (!FileReady) return Fail(kExitFileRefused, "the file cannot be used for this product");
  if (resume && f.Interrupted && f.FileSha256 != f.Interrupted->FileSha256) {
    return Fail(kExitFileRefused,
                "the file differs from \"" + f.Interrupted->File +
                    "\", whose update was interrupted (its SHA-256 is not the one recorded)");
  }

  // The update.
  Handle([&] { f.btnNextClick(); });
  BuildPageList();
  report_.SetPlan(static_cast<int>(PageList.size()), CountBlocks(), !noVerify);
  Handle([&] { f.btnStartClick(); });
  if (!f.FlashInProgress && !f.FlashDone) return Fail(kExitProductRefused, "the product cannot be updated");
  // No bound on the whole run: a slow line or one with many repeats takes long, and stopping a
  // moving update leaves the panel half-written. Only a standstill of every block, page and step
  // ends it from here; every other end is the window's own protocol giving up.
  const auto progress = [&f] {
    std::vector<int> p{f.progBar.Visible(), f.progBar.Max(), f.progBar.Position(), f.FlashDone};
    for (const TControl* c : f.ResultImages()) p.push_back(c->Visible());
    for (const TControl* c : f.StatusLabels()) p.push_back(c->Visible());
    return p;
  };
  const TWaitEnd updated =
      PumpUntil([&] { return f.FlashDone || !f.FlashInProgress; }, 0, services_.StallTicks, progress);
  if (updated == TWaitEnd::weStopped) return Stopped();
  report_.Update(f);
  if (!f.FlashDone) {
    if (updated != TWaitEnd::weDone) {
      const std::string text = Format(
          "no block, page or step advanced for %d s although the product had not given up; "
          "the update was stopped",
          services_.StallTicks * TickLength / 1000);
      f.FinishHistory(false, "tarvex-flash: " + text);
      return Fail(kExitUpdateFailed, text);
    }
    return Fail(kExitUpdateFailed, "the update failed: the programmer gave up (see the message above)");
  }
  if (f.VerifyResult == TVerifyResult::vrFailed) {
    const std::string reportFile = LogsFolder + kVerifyReportFile;
    return Fail(kExitVerifyFailed,
                "the flash differs from the file" +
                    (f.VerifyReportWritten ? "; the differences are in " + reportFile : std::string()));
  }
  report_.Verdict("Update complete: firmware " + f.lbFileVersion.Caption() + " started.");
  if (!waitReconnect) return kExitOk;

  // The window reconnects by itself on the lead's second arrival.
  report_.Line("Waiting for the product to come back...");
  if (PumpUntil([&] { return f.ProductReady || (!f.ReconnectToProduct && CommsJob == nullptr); },
                services_.ReconnectTicks, 0) == TWaitEnd::weStopped) {
    return Stopped();
  }
  if (!f.ProductReady) return Fail(kExitNoReconnect, "the product was not identified again after the update");
  PrintProduct("Product after the update:");
  return kExitOk;
}

}  // namespace

int RunStatus(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const TFlashServices& services) {
  TParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {{"port", true}, {"help", false}}, parsed, error)) {
    UsageError(err, "status", error);
    return kExitUsage;
  }
  if (parsed.Has("help")) {
    out << "Usage: tarvex-flash status --port COM<n>\n\n"
           "Says what answers on the port: the product link (the product runs its firmware; its identity\n"
           "is printed), a boot loader (the product waits for its firmware, after an interrupted update),\n"
           "or nothing. Only when the product link is silent is one boot loader sync byte sent.\n\n"
           "Options:\n"
           "  --port COM<n>  serial port of the product's USB lead\n"
           "  -h, --help     show this help\n\n"
           "Exit status: 0 the product link or a boot loader answers, 2 a usage error, 3 nothing\n"
           "answers or the port cannot be opened.\n";
    return kExitOk;
  }
  const std::optional<std::string> port =
      parsed.Has("port") ? PortName(parsed.Options["port"]) : std::nullopt;
  if (!parsed.Positional.empty() || !port) {
    UsageError(err, "status", "--port COM<n> is required, and nothing else");
    return kExitUsage;
  }
  TFlashSession session(out, err, services, false);
  return session.Status(*port);
}

int RunFlash(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             const TFlashServices& services) {
  TParsedArgs parsed;
  std::string error;
  const std::vector<TOptionSpec> options{
      {"port", true},   {"file", true},  {"no-verify", false}, {"verbose", false}, {"wait-reconnect", false},
      {"quiet", false}, {"json", false}, {"help", false},      {"resume", false}};
  if (!ParseArgs(args, options, parsed, error)) {
    UsageError(err, "flash", error);
    return kExitUsage;
  }
  if (parsed.Has("help")) {
    PrintFlashHelp(out);
    return kExitOk;
  }
  if (!parsed.Positional.empty() || !parsed.Has("port") || !parsed.Has("file")) {
    UsageError(err, "flash", "--port and --file are required, and nothing else");
    return kExitUsage;
  }
  const std::optional<std::string> port = PortName(parsed.Options["port"]);
  if (!port) {
    UsageError(err, "flash", "the port must be named COM<n>, e.g. COM5");
    return kExitUsage;
  }
  TFlashSession session(out, err, services, parsed.Has("verbose"));
  const bool json = parsed.Has("json");
  if (json || parsed.Has("quiet")) session.SetMode(json ? TReportMode::rmJson : TReportMode::rmQuiet);
  const int code = session.Run(*port, parsed.Options["file"], parsed.Has("no-verify"),
                               parsed.Has("wait-reconnect"), parsed.Has("resume"));
  if (json) out << session.Json(code) << "\n" << std::flush;
  return code;
}

}  // namespace tarvex::cli
