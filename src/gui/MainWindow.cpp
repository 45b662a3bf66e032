#include "gui/MainWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTimer>
#include <algorithm>
#include <stdexcept>
#include <vector>

#include "serial/ComPortIntf.h"

// Outside any namespace, as the resource initialiser requires.
static void InitResourcesOnce() {
  Q_INIT_RESOURCE(tarvex_resources);
}

namespace tarvex {

void InitTarvexResources() {
  static const bool done = [] {
    InitResourcesOnce();
    return true;
  }();
  (void)done;
}

QString TarvexThemeStyleSheet() {
  InitTarvexResources();
  QFile file(":/styles/Tarvex Security theme.qss");
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

QPixmap TarvexPicture(const std::string& name) {
  InitTarvexResources();
  if (name.empty()) return {};
  return QPixmap(QString(":/images/%1.png").arg(QString::fromStdString(name)));
}

namespace {

QWidget* MakeWidget(const TControl& c) {
  switch (c.Kind()) {
    case TControlKind::ckLabel: {
      auto* label = new QLabel();
      label->setTextFormat(Qt::PlainText);
      // The no-ports warning wraps over two lines; every other label is one line.
      label->setWordWrap(c.Name() == "lbNoPorts");
      label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
      return label;
    }
    case TControlKind::ckButton: return new QPushButton();
    case TControlKind::ckImage: {
      auto* image = new QLabel();
      image->setAlignment(Qt::AlignCenter);
      return image;
    }
    case TControlKind::ckComboBox: return new QComboBox();
    case TControlKind::ckEdit: {
      auto* edit = new QLineEdit();
      edit->setReadOnly(true);  // the file name comes from the file dialog
      return edit;
    }
    case TControlKind::ckProgressBar: {
      auto* bar = new QProgressBar();
      bar->setTextVisible(false);
      return bar;
    }
    case TControlKind::ckGroupBox: return new QGroupBox();
    case TControlKind::ckCheckBox: return new QCheckBox();
    case TControlKind::ckPanel: {
      auto* frame = new QFrame();
      frame->setAutoFillBackground(true);
      return frame;
    }
    case TControlKind::ckPage: return new QWidget();
  }
  return new QWidget();
}

QString Text(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace

TMainWindow::TMainWindow(TfrmMain& form) : form_(form), self_(std::make_shared<TMainWindow*>(this)) {
  InitTarvexResources();
  setObjectName("frmMain");
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setWindowIcon(TarvexPicture("tarvex-flash-programmer"));
  Build();
  // The view model outlives no window it talks to: a destroyed window stops listening.
  std::weak_ptr<TMainWindow*> weak = self_;
  form_.VM.AddObserver([weak](const TControl& c) {
    if (auto self = weak.lock(); self && *self) (*self)->Render(c);
  });
  form_.VM.AddFocusObserver([weak](const TControl& c) {
    auto self = weak.lock();
    if (!self || *self == nullptr) return;
    // Also right after a modal box, before the window is active again: the widget is then the
    // window's focus child, which gets the focus back on activation.
    QWidget* w = (*self)->ControlWidget(c.Name());
    if (w != nullptr && w->isEnabled() && w->isVisibleTo(w->window())) w->setFocus(Qt::OtherFocusReason);
  });
  RenderAll();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

TMainWindow::~TMainWindow() {
  *self_ = nullptr;
}

void TMainWindow::Build() {
  const auto& controls = form_.VM.Controls();
  for (const TControl* c : controls) {
    if (c == &form_.frmMain) {
      widgets_[c->Name()] = this;
      continue;
    }
    QWidget* w = c == &form_.PgCtrl ? (pages_ = new QStackedWidget()) : MakeWidget(*c);
    w->setObjectName(Text(c->Name()));
    widgets_[c->Name()] = w;
  }
  for (const TControl* c : controls) {
    if (c->Kind() == TControlKind::ckPage && c->Page() >= 0 && c->Page() < kPageCount) {
      pageWidgets_[c->Page()] = widgets_[c->Name()];
    }
  }
  for (int i = 0; i < kPageCount; ++i) {
    if (pageWidgets_[i] == nullptr) {
      pageWidgets_[i] = new QWidget();
      pageWidgets_[i]->setObjectName(QString("tsPage%1").arg(i + 1));
    }
    pages_->addWidget(pageWidgets_[i]);
  }
  for (const TControl* c : controls) {
    if (c == &form_.frmMain || c->Kind() == TControlKind::ckPage) continue;
    QWidget* w = widgets_[c->Name()];
    w->setParent(ContainerOf(*c));
    Connect(*c, w);
  }
  SetTabOrder();
}

QWidget* TMainWindow::ContainerOf(const TControl& c) const {
  if (!c.ParentName().empty()) {
    if (auto it = widgets_.find(c.ParentName()); it != widgets_.end()) return it->second;
  }
  if (c.Page() >= 0 && c.Page() < kPageCount) return pageWidgets_[c.Page()];
  return const_cast<TMainWindow*>(this);
}

TGeometry TMainWindow::AbsoluteGeometry(const TControl& c) const {
  TGeometry g = c.Geometry();
  std::string parent = c.ParentName();
  bool onPage = c.Page() >= 0;
  while (!parent.empty()) {
    const TControl* p = form_.VM.Find(parent);
    if (p == nullptr) break;
    g.Left += p->Geometry().Left;
    g.Top += p->Geometry().Top;
    onPage = p->Page() >= 0;
    parent = p->ParentName();
  }
  if (onPage) {
    g.Left += form_.PgCtrl.Geometry().Left;
    g.Top += form_.PgCtrl.Geometry().Top;
  }
  return g;
}

void TMainWindow::SetTabOrder() {
  // Top to bottom, then left to right, page by page; the footer comes last. Hidden and disabled
  // controls are passed over by Qt itself.
  struct Item {
    int group;
    TGeometry g;
    QWidget* w;
  };
  std::vector<Item> items;
  for (const TControl* c : form_.VM.Controls()) {
    const auto k = c->Kind();
    if (k != TControlKind::ckButton && k != TControlKind::ckComboBox && k != TControlKind::ckEdit &&
        k != TControlKind::ckCheckBox) {
      continue;
    }
    QWidget* w = widgets_.at(c->Name());
    w->setFocusPolicy(Qt::StrongFocus);
    const bool footer = c->ParentName() == form_.Panel2.Name();
    items.push_back({footer ? kPageCount : std::max(c->Page(), 0), AbsoluteGeometry(*c), w});
  }
  std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    if (a.group != b.group) return a.group < b.group;
    // Controls of one row (a list and its button) share their vertical centre, not their top.
    const int ca = a.g.Top + a.g.Height / 2, cb = b.g.Top + b.g.Height / 2;
    if (ca != cb) return ca < cb;
    return a.g.Left < b.g.Left;
  });
  for (std::size_t i = 1; i < items.size(); ++i) QWidget::setTabOrder(items[i - 1].w, items[i].w);
}

void TMainWindow::Invoke(const std::function<void()>& handler) {
  // Nothing may escape into Qt's event loop.
  try {
    try {
      handler();
    } catch (const std::exception& e) {
      form_.ShowException(e);
    } catch (...) {
      form_.ShowException(std::runtime_error("An unexpected error occurred"));
    }
  } catch (...) {
  }
}

void TMainWindow::ConnectClick() {
  // Without a serial port component there is no port that could be opened.
  if (form_.Platform().ComPort == nullptr) {
    form_.MessageDlg(TMsgKind::mkPlain, "Com port does not exist");
    return;
  }
  form_.btnConnectClick();
}

void TMainWindow::Connect(const TControl& c, QWidget* w) {
  if (auto* button = qobject_cast<QPushButton*>(w)) {
    const std::string& n = c.Name();
    std::function<void()> handler;
    TfrmMain& f = form_;
    if (n == "btnNext") {
      handler = [&f] { f.btnNextClick(); };
    } else if (n == "btnBack") {
      handler = [&f] { f.btnBackClick(); };
    } else if (n == "btnCancel") {
      handler = [this] {
        if (form_.btnCancelClick()) close();
      };
    } else if (n == "btnManual") {
      handler = [&f] { f.btnManualClick(); };
    } else if (n == "btnConnect") {
      handler = [this] { ConnectClick(); };
    } else if (n == "btnOpenHex") {
      handler = [&f] { f.btnOpenHexClick(); };
    } else if (n == "btnResetFolder") {
      handler = [&f] { f.btnResetFolderClick(); };
    } else if (n == "btnStart") {
      handler = [&f] { f.btnStartClick(); };
    } else if (c.Page() == 2 && c.ParentName() == f.GroupBox2.Name()) {
      // The step buttons share one handler that tells them apart by their tag.
      const TControl* step = &c;
      handler = [&f, step] { f.btnSelFlashClick(step->Tag()); };
    }
    if (handler) {
      connect(button, &QPushButton::clicked, this, [this, handler] { Invoke(handler); });
    }
  } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
    TControl* control = form_.VM.Find(c.Name());
    connect(combo, qOverload<int>(&QComboBox::activated), this,
            [this, control](int index) { Invoke([control, index] { control->SetItemIndex(index); }); });
  } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
    TControl* control = form_.VM.Find(c.Name());
    connect(check, &QCheckBox::toggled, this,
            [this, control](bool on) { Invoke([control, on] { control->SetChecked(on); }); });
  }
}

void TMainWindow::RenderAll() {
  for (const TControl* c : form_.VM.Controls()) Render(*c);
}

void TMainWindow::Render(const TControl& c) {
  const auto it = widgets_.find(c.Name());
  if (it == widgets_.end()) return;
  QWidget* w = it->second;
  if (pages_ != nullptr && pages_->currentIndex() != form_.ActivePageIndex()) {
    pages_->setCurrentIndex(form_.ActivePageIndex());
  }
  if (w == this) {
    setWindowTitle(Text(c.Caption()));
    return;
  }
  if (c.Kind() == TControlKind::ckPage) return;

  // The side panel moves onto whichever page is active.
  if (QWidget* container = ContainerOf(c); w->parentWidget() != container) w->setParent(container);
  const TGeometry& g = c.Geometry();
  w->setGeometry(g.Left, g.Top, g.Width, g.Height);
  w->setEnabled(c.Enabled());

  switch (c.Kind()) {
    case TControlKind::ckLabel: {
      auto* label = static_cast<QLabel*>(w);
      QString text = Text(c.Caption());
      if (c.Name() == "lbFirmwareFolder") {
        // A long folder path loses its middle, not its end.
        label->setToolTip(text);
        text = label->fontMetrics().elidedText(text, Qt::ElideMiddle, g.Width);
      }
      label->setText(text);
      break;
    }
    case TControlKind::ckButton: static_cast<QPushButton*>(w)->setText(Text(c.Caption())); break;
    case TControlKind::ckImage: {
      auto* image = static_cast<QLabel*>(w);
      QPixmap pixmap = TarvexPicture(c.Picture());
      if (!pixmap.isNull() && (pixmap.width() > g.Width || pixmap.height() > g.Height)) {
        pixmap = pixmap.scaled(g.Width, g.Height, Qt::KeepAspectRatio, Qt::SmoothTransformation);
      }
      image->setPixmap(pixmap);
      break;
    }
    case TControlKind::ckComboBox: {
      auto* combo = static_cast<QComboBox*>(w);
      const QSignalBlocker block(combo);
      QStringList items;
      for (const auto& item : c.Items()) items << Text(item);
      QStringList shown;
      for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
      if (shown != items) {
        combo->clear();
        combo->addItems(items);
      }
      combo->setCurrentIndex(c.ItemIndex());
      break;
    }
    case TControlKind::ckEdit: static_cast<QLineEdit*>(w)->setText(Text(c.Caption())); break;
    case TControlKind::ckProgressBar: {
      auto* bar = static_cast<QProgressBar*>(w);
      bar->setRange(c.Min(), std::max(c.Min(), c.Max()));
      bar->setValue(std::clamp(c.Position(), bar->minimum(), bar->maximum()));
      break;
    }
    case TControlKind::ckGroupBox: static_cast<QGroupBox*>(w)->setTitle(Text(c.Caption())); break;
    case TControlKind::ckCheckBox: {
      auto* check = static_cast<QCheckBox*>(w);
      const QSignalBlocker block(check);
      check->setText(Text(c.Caption()));
      check->setChecked(c.Checked());
      break;
    }
    case TControlKind::ckPanel:
    case TControlKind::ckPage: break;
  }
  w->setVisible(c.Visible());
}

void TMainWindow::Create() {
  Invoke([this] { form_.FormCreate(); });
  RenderAll();
}

QWidget* TMainWindow::ControlWidget(const std::string& name) const {
  const auto it = widgets_.find(name);
  return it == widgets_.end() ? nullptr : it->second;
}

int TMainWindow::VisiblePageIndex() const {
  return pages_ != nullptr ? pages_->currentIndex() : -1;
}

void TMainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  // After the window is on the screen, so the advisory dialog stands in front of it.
  QTimer::singleShot(0, this, [this] { Invoke([this] { form_.FormShow(); }); });
}

void TMainWindow::closeEvent(QCloseEvent* event) {
  if (!form_.FormCloseQuery()) {
    event->ignore();
    return;
  }
  if (!closed_) {
    closed_ = true;
    Invoke([this] { form_.FormClose(); });
  }
  event->accept();
}

}  // namespace tarvex
