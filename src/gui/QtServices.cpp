#include "gui/QtServices.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace tarvex {

QString MessageBoxTitle(TMsgKind kind) {
  switch (kind) {
    case TMsgKind::mkError: return QStringLiteral("Error");
    case TMsgKind::mkInformation: return QStringLiteral("Information");
    case TMsgKind::mkWarning: return QStringLiteral("Warning");
    case TMsgKind::mkPlain: break;
  }
  return QStringLiteral("Tarvex Flash Programmer");
}

void TQtMessageBoxes::Show(TMsgKind kind, const std::string& text) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (kind) {
    case TMsgKind::mkError: icon = QMessageBox::Critical; break;
    case TMsgKind::mkInformation: icon = QMessageBox::Information; break;
    case TMsgKind::mkWarning: icon = QMessageBox::Warning; break;
    case TMsgKind::mkPlain: break;
  }
  QMessageBox box(icon, MessageBoxTitle(kind), QString::fromStdString(text), QMessageBox::Ok, owner_.data());
  box.setObjectName("MessageBox");
  box.setWindowModality(Qt::ApplicationModal);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

QStringList NameFilters(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& description = parts[i];
    const QString pattern = QString(parts[i + 1]).replace(';', ' ');
    // Qt reads the patterns from the parentheses; a description that shows them already is kept.
    filters << (description.contains('(') ? description : description + " (" + pattern + ")");
  }
  return filters;
}

std::optional<std::string> TQtFileDialog::Execute(const TOpenDialogOptions& options) {
  QFileDialog dialog(owner_.data(), QString::fromStdString(options.Title),
                     QString::fromStdString(options.InitialDir));
  dialog.setObjectName("OpenDlg");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setWindowModality(Qt::ApplicationModal);
  const QStringList filters = NameFilters(options.Filter);
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  QString ext = QString::fromStdString(options.DefaultExt);
  while (ext.startsWith('*') || ext.startsWith('.')) ext.remove(0, 1);
  if (!ext.isEmpty()) dialog.setDefaultSuffix(ext);
  if (!options.FileName.empty()) dialog.selectFile(QString::fromStdString(options.FileName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst().toStdString();
}

void TQtShell::Open(const std::string& target) {
  const QString t = QString::fromStdString(target);
  const QUrl url = t.contains("://") ? QUrl(t) : QUrl::fromLocalFile(t);
  // The answer is not reported: a missing manual simply does not open.
  QDesktopServices::openUrl(url);
}

}  // namespace tarvex
