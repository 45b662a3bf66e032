#include "gui/Program.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStyleFactory>
#include <QTextStream>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "app/Main.h"
#include "app/platform/LinuxFolders.h"
#include "app/platform/LinuxSettingsStore.h"
#include "devices/LinuxPorts.h"
#include "devices/LinuxUsbBackend.h"
#include "gui/MainWindow.h"
#include "gui/QtMessagePump.h"
#include "gui/QtServices.h"
#include "gui/UDLMessage.h"
#include "serial/Ticks.h"

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

}  // namespace

int RunDesktopProgram(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("tarvex-flash-programmer");
  QApplication::setApplicationDisplayName("Tarvex Flash Programmer");
  QApplication::setOrganizationName("Tarvex Ltd");
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
    args.push_back(all[i].toStdString());
  }

  LinuxSettingsStore settings(LinuxSettingsStore::DefaultFilePath());
  LinuxFolders folders;
  LinuxPorts ports;
  TQtMessageBoxes boxes;
  TQtFileDialog fileDialog;
  TQtShell shell;
  TQtAdvisoryDialog advisory(&shell);
  TQtMessagePump pump;
  SetUiMessagePump(&pump);

  TPlatform platform;
  platform.Settings = &settings;
  platform.Folders = &folders;
  platform.MessageBoxes = &boxes;
  platform.FileDialog = &fileDialog;
  platform.Shell = &shell;
  platform.Ports = &ports;
  platform.Advisory = &advisory;
  platform.Pump = &pump;
  // USB leads coming and going refresh the port list and reconnect after an update.
  const std::string portsDir = ports.PortsDir();
  platform.UsbBackend = [portsDir] { return std::make_unique<LinuxUsbBackend>(portsDir); };
  platform.ComPort = nullptr;  // the serial port component joins here

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
    rc = QApplication::exec();
    if (!snapshotDir.isEmpty()) window.close();
  }
  SetUiMessagePump(nullptr);
  return rc;
}

}  // namespace tarvex
