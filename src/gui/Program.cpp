#include "gui/Program.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QStyleFactory>
#include <QTextStream>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/Main.h"
#include "app/platform/SystemServices.h"
#include "gui/MainWindow.h"
#include "gui/QtMessagePump.h"
#include "gui/QtServices.h"
#include "gui/UDLMessage.h"
#include "serial/ComPort.h"
#include "serial/Ticks.h"
#include "tools/demo/Demo.h"

namespace tarvex {

namespace {

// One line per control: name, visible/hidden, enabled/disabled, caption.
void WriteControlStates(const TfrmMain& form, const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
  QTextStream out(&file);
  for (const TControl* c : form.VM.Controls()) {
    out << QString::fromStdString(c->Name()) << (c->Visible() ? " visible" : " hidden")
        << (c->Enabled() ? " enabled" : " disabled") << " \"" << QString::fromStdString(c->Caption())
        << "\"\n";
  }
}

void StartSnapshot(TMainWindow& window, const QString& dir) {
  QDir().mkpath(dir);
  auto* timer = new QTimer(&window);
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, &window, [&window, dir, timer] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      modal->grab().save(dir + "/advisory.png");
      modal->close();
      return;
    }
    if (!window.isVisible()) return;
    timer->stop();
    window.grab().save(dir + "/window.png");
    WriteControlStates(window.Form(), dir + "/controls.txt");
    QApplication::exit(0);
  });
  timer->start();
}

bool HasDemoSwitch(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--demo") == 0) return true;
  }
  return false;
}

// The emulator starts before anything reads the ports folder, so the port list shows it alone.
std::unique_ptr<TDemoSession> StartDemo(std::string& error) {
  const std::string folder = RunningProgramFolder();
  TDemoConfig config;
  config.SimPath = DemoSimulatorPath(folder);
  // Paced as a real product's line, so the progress bars move as they would in the field.
  config.SimArgs = {"--baud", "115200"};
  config.SampleFolder = DemoSampleFolder(folder);
  return TDemoSession::Start(config, error);
}

}  // namespace

void ConfigureApplication() {
  QApplication::setApplicationName("tarvex-flash-programmer");
  // No display name: Qt would append it to every window and box caption, and the captions are
  // the program's own ("Flash Programmer", "Important, Please Read ").
  QApplication::setOrganizationName("Tarvex Ltd");
}

int RunDesktopProgram(int argc, char** argv) {
  std::unique_ptr<TDemoSession> demo;
  std::string demoError;
  if (HasDemoSwitch(argc, argv)) {
    demo = StartDemo(demoError);
    if (demo) {
      std::printf("Demonstration: a simulated panel on COM%d; the sample firmware is in %s\n",
                  demo->ComNumber(), DemoSampleFolder(RunningProgramFolder()).c_str());
      std::fflush(stdout);
    }
  }

  QApplication app(argc, argv);
  ConfigureApplication();
  if (QStyle* fusion = QStyleFactory::create("Fusion")) QApplication::setStyle(fusion);
  app.setStyleSheet(TarvexThemeStyleSheet());

  std::vector<std::string> args;
  QString snapshotDir;
  const QStringList all = QApplication::arguments();
  for (qsizetype i = 1; i < all.size(); ++i) {
    if (all[i] == "--snapshot" && i + 1 < all.size()) {
      snapshotDir = all[++i];
      continue;
    }
    if (all[i] == "--demo") continue;
    args.push_back(all[i].toStdString());
  }

  if (HasDemoSwitch(argc, argv) && !demo) {
    QMessageBox::critical(nullptr, "Flash Programmer",
                          QString::fromStdString("The demonstration could not start: " + demoError));
    return 1;
  }

  // The demonstration keeps its settings in its own folder, the installer's staying untouched, and
  // offers the simulated panel as the only port.
  TSystemServicesOptions options;
  if (demo) {
    options.SettingsFile = demo->SettingsFile();
    options.OnlyPortsDir = demo->PortsDir();
  }
  TSystemServices system = MakeSystemServices(options);
  if (system.DebugOutput) SetDebugOutput(system.DebugOutput.get());
  TQtMessageBoxes boxes;
  TQtFileDialog fileDialog;
  TQtShell shell;
  TQtAdvisoryDialog advisory(&shell);
  TQtMessagePump pump;
  SetUiMessagePump(&pump);

  TPlatform platform;
  platform.Settings = system.Settings.get();
  platform.Folders = system.Folders.get();
  platform.MessageBoxes = &boxes;
  platform.FileDialog = &fileDialog;
  platform.Shell = &shell;
  platform.Ports = system.Ports.get();
  platform.Advisory = &advisory;
  TFileUpdateHistory history;
  platform.History = &history;
  platform.Pump = &pump;
  // USB leads coming and going refresh the port list and reconnect after an update.
  platform.UsbBackend = system.UsbBackend;
  TSerComPort comPort;
  comPort.Baud = 115200;
  comPort.AutoOpen = false;
  comPort.PromptForPort = false;
  comPort.DevicePath = system.DevicePath;
  platform.ComPort = &comPort;

  int rc = 0;
  {
    TfrmMain form(platform, args);
    TMainWindow window(form);
    boxes.SetOwner(&window);
    fileDialog.SetOwner(&window);
    advisory.SetOwner(&window);
    window.Create();
    window.show();
    if (!snapshotDir.isEmpty()) StartSnapshot(window, snapshotDir);
    QTimer demoWatch;
    if (demo) {
      // A simulated panel that dies leaves a line that fails; the program goes on regardless.
      QObject::connect(&demoWatch, &QTimer::timeout, [&demo, &demoWatch] {
        if (!demo->ChildExited()) return;
        demoWatch.stop();
        LogDebug("Demonstration: the simulated panel has stopped");
        std::fprintf(stderr, "tarvex-flash-programmer: the simulated panel has stopped\n");
      });
      demoWatch.start(500);
    }
    rc = QApplication::exec();
    if (!snapshotDir.isEmpty()) window.close();
  }
  comPort.SetOpen(false);
  SetUiMessagePump(nullptr);
  SetDebugOutput(nullptr);
  if (demo) demo->Stop();
  return rc;
}

}  // namespace tarvex
