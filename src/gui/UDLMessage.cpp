#include "gui/UDLMessage.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <iterator>

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
  setWindowTitle(kAdvisoryCaption);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(true);

  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->setContentsMargins(18, 16, 18, 14);
  layout->setSpacing(10);

  const char* names[] = {"lbBackup", "lbHowTo", "lbDefault", "lbWireless", "lbPortal"};
  for (std::size_t k = 0; k < std::size(kAdvisoryParagraphs); ++k) {
    layout->addWidget(Paragraph(this, kAdvisoryParagraphs[k], names[k]));
  }

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

  layout->addWidget(Paragraph(this, kAdvisoryContact, "lbContact"));
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
  cbDontShow_ = new QCheckBox(kAdvisoryDontShow, this);
  cbDontShow_->setObjectName("cbDontShow");
  btnClose_ = new QPushButton(kAdvisoryClose, this);
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
