#include "gui/UDLMessage.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace tarvex {

namespace {

QLabel* Paragraph(QWidget* parent, const char* utf8, const char* name) {
  auto* label = new QLabel(QString::fromUtf8(utf8), parent);
  label->setObjectName(name);
  label->setWordWrap(true);
  label->setTextFormat(Qt::PlainText);
  return label;
}

QString InstallerAddress() {
  return QString(kMakerWebHost) + kInstallerPath;
}

}  // namespace

TfrmUDLMessage::TfrmUDLMessage(QWidget* owner, IShell* shell) : QDialog(owner), shell_(shell) {
  setObjectName("frmUDLMessage");
  setWindowTitle("Important, Please Read ");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(true);

  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->setContentsMargins(18, 16, 18, 14);
  layout->setSpacing(10);

  layout->addWidget(
      Paragraph(this,
                "It is highly recommended that you make a backup of the control panel configuration "
                "data before flash updating the firmware. In some cases, the panel configuration "
                "data will be restored to the factory default settings after performing the flash "
                "update.",
                "lbBackup"));
  layout->addWidget(
      Paragraph(this,
                "To create a backup \u2013 Connect the Tarvex UDL software via a USB connection then "
                "once connected select \u2018Receive All\u2019. Once received select \u2018Menu\u2019 "
                "> \u2018Save\u2019 to store the current programming.",
                "lbHowTo"));
  layout->addWidget(
      Paragraph(this,
                "After the flash update it is advised to default the control panel (Please refer "
                "to the relevant installation manual for additional information). ",
                "lbDefault"));
  layout->addWidget(
      Paragraph(this,
                "Depending on the software versions it is highly recommended to ONLY send back the "
                "WIRELESS page from the Tarvex UDL and not all data. The remaining fields can be "
                "copy and pasted between two different UDL windows.",
                "lbWireless"));
  layout->addWidget(Paragraph(
      this, "Registered installers can download Tarvex UDL from the Installers portal:", "lbPortal"));

  lbFirmwareDL_ = new QLabel(this);
  lbFirmwareDL_->setObjectName("lbFirmwareDL");
  lbFirmwareDL_->setTextFormat(Qt::RichText);
  lbFirmwareDL_->setText(QString("<a href=\"%1\" style=\"color:#1a5fb4; text-decoration:underline\">%1</a>")
                             .arg(InstallerAddress().toHtmlEscaped()));
  lbFirmwareDL_->setOpenExternalLinks(false);
  lbFirmwareDL_->setCursor(Qt::PointingHandCursor);
  lbFirmwareDL_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  connect(lbFirmwareDL_, &QLabel::linkActivated, this, [this] { lbFirmwareDLClick(); });
  layout->addWidget(lbFirmwareDL_);

  layout->addWidget(
      Paragraph(this, "For additional information please contact our support team on:", "lbContact"));
  auto* contact = new QHBoxLayout();
  auto* phone = new QLabel(QString("Telephone: ") + kSupportPhone, this);
  phone->setObjectName("lbTelephone");
  auto* mail = new QLabel(QString("Email: ") + kSupportEmail, this);
  mail->setObjectName("lbEmail");
  contact->addWidget(phone);
  contact->addSpacing(24);
  contact->addWidget(mail);
  contact->addStretch();
  layout->addLayout(contact);

  auto* bottom = new QHBoxLayout();
  cbDontShow_ = new QCheckBox("Do not show this message again", this);
  cbDontShow_->setObjectName("cbDontShow");
  btnClose_ = new QPushButton("Close", this);
  btnClose_->setObjectName("btnClose");
  btnClose_->setDefault(true);
  connect(btnClose_, &QPushButton::clicked, this, &QDialog::accept);
  bottom->addWidget(cbDontShow_);
  bottom->addStretch();
  bottom->addWidget(btnClose_);
  layout->addSpacing(6);
  layout->addLayout(bottom);

  for (auto* label : findChildren<QLabel*>()) {
    if (label->wordWrap()) label->setFixedWidth(520);
  }
  adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

bool TfrmUDLMessage::GetUDLMessageOpts() {
  return exec() == QDialog::Accepted && cbDontShow_->isChecked();
}

void TfrmUDLMessage::lbFirmwareDLClick() {
  if (shell_ != nullptr) shell_->Open(InstallerAddress().toStdString());
}

bool TQtAdvisoryDialog::GetUDLMessageOpts() {
  TfrmUDLMessage dialog(owner_.data(), shell_);
  return dialog.GetUDLMessageOpts();
}

}  // namespace tarvex
