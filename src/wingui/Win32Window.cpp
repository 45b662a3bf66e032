#include "wingui/Win32Window.h"

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "serial/Win32Text.h"

namespace tarvex {

namespace {

constexpr const wchar_t* kMainClass = L"TarvexFlashProgrammer";
constexpr UINT kShownMessage = WM_APP + 1;
constexpr int kFirstId = 1000;

// The "Tarvex Security theme": navy and white with an amber accent.
constexpr COLORREF kPageColour = RGB(0xf4, 0xf7, 0xfb);
constexpr COLORREF kHeaderColour = RGB(0xff, 0xff, 0xff);
constexpr COLORREF kAccentColour = RGB(0xf2, 0xa9, 0x00);
constexpr COLORREF kSideColour = RGB(0xdf, 0xe8, 0xf3);
constexpr COLORREF kFooterColour = RGB(0xe6, 0xed, 0xf6);
constexpr COLORREF kRuleColour = RGB(0xb7, 0xc7, 0xdc);
constexpr COLORREF kTextColour = RGB(0x1d, 0x27, 0x33);
constexpr COLORREF kNavyColour = RGB(0x12, 0x3a, 0x6b);
constexpr COLORREF kMutedColour = RGB(0x44, 0x56, 0x6c);
constexpr COLORREF kWarningColour = RGB(0xc0, 0x22, 0x1a);

using TDpiAwareness = BOOL(WINAPI*)(HANDLE);
using TDpiForWindow = UINT(WINAPI*)(HWND);

// Per-monitor awareness where the system knows it (Windows 10 on); the window then scales itself.
void BecomeDpiAware() {
  const HMODULE user = GetModuleHandleW(L"user32.dll");
  if (user == nullptr) return;
  if (auto set = reinterpret_cast<TDpiAwareness>(
          reinterpret_cast<void*>(GetProcAddress(user, "SetProcessDpiAwarenessContext")))) {
    set(reinterpret_cast<HANDLE>(-4));  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
  }
}

int WindowDpi(HWND hwnd) {
  const HMODULE user = GetModuleHandleW(L"user32.dll");
  if (user != nullptr) {
    if (auto get = reinterpret_cast<TDpiForWindow>(
            reinterpret_cast<void*>(GetProcAddress(user, "GetDpiForWindow")))) {
      const UINT dpi = get(hwnd);
      if (dpi != 0) return static_cast<int>(dpi);
    }
  }
  HDC dc = GetDC(hwnd);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(hwnd, dc);
  return dpi > 0 ? dpi : 96;
}

std::wstring Wide(const std::string& s) {
  return WideFromUtf8(s);
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* window = reinterpret_cast<TWin32MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (window == nullptr) return DefWindowProcW(hwnd, msg, wParam, lParam);
  if (msg == WM_NCCREATE) window->hwnd_ = hwnd;
  return window->Handle(msg, wParam, lParam);
}

void InitWin32Gui() {
  static const bool done = [] {
    BecomeDpiAware();
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_WIN95_CLASSES;
    InitCommonControlsEx(&icc);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hIcon = LoadIconW(wc.hInstance, L"APPICON");
    wc.hIconSm = wc.hIcon;
    wc.lpszClassName = kMainClass;
    RegisterClassExW(&wc);
    return true;
  }();
  (void)done;
}

TWin32MainWindow::TWin32MainWindow(TfrmMain& form)
    : form_(form), self_(std::make_shared<TWin32MainWindow*>(this)) {
  InitWin32Gui();
  page_ = CreateSolidBrush(kPageColour);
  header_ = CreateSolidBrush(kHeaderColour);
  side_ = CreateSolidBrush(kSideColour);
  footer_ = CreateSolidBrush(kFooterColour);
  white_ = CreateSolidBrush(RGB(0xff, 0xff, 0xff));
}

TWin32MainWindow::~TWin32MainWindow() {
  *self_ = nullptr;
  if (hwnd_ != nullptr) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  for (HGDIOBJ o : {static_cast<HGDIOBJ>(font_), static_cast<HGDIOBJ>(bold_), static_cast<HGDIOBJ>(title_),
                    static_cast<HGDIOBJ>(page_), static_cast<HGDIOBJ>(header_), static_cast<HGDIOBJ>(side_),
                    static_cast<HGDIOBJ>(footer_), static_cast<HGDIOBJ>(white_)}) {
    if (o != nullptr) DeleteObject(o);
  }
}

int TWin32MainWindow::Scale(int v) const {
  return MulDiv(v, dpi_, 96);
}

bool TWin32MainWindow::Create() {
  // A fixed-size window: system menu and minimise button only.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  CreateWindowExW(WS_EX_CONTROLPARENT, kMainClass, L"", style, CW_USEDEFAULT, CW_USEDEFAULT, 100, 100,
                  nullptr, nullptr, GetModuleHandleW(nullptr), this);
  if (hwnd_ == nullptr) return false;
  dpi_ = WindowDpi(hwnd_);
  RECT rc{0, 0, Scale(kClientWidth), Scale(kClientHeight)};
  AdjustWindowRectEx(&rc, style, FALSE, WS_EX_CONTROLPARENT);
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - w) / 2,
               work.top + (work.bottom - work.top - h) / 2, w, h, SWP_NOZORDER | SWP_NOACTIVATE);

  font_ = CreateFontW(-Scale(11), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI");
  bold_ = CreateFontW(-Scale(11), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI");
  title_ = CreateFontW(-Scale(18), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI");
  BuildControls();

  const std::weak_ptr<TWin32MainWindow*> weak = self_;
  form_.VM.AddObserver([weak](const TControl& c) {
    if (auto s = weak.lock(); s && *s) (*s)->Render(c);
  });
  form_.VM.AddFocusObserver([weak](const TControl& c) {
    auto s = weak.lock();
    if (!s || *s == nullptr) return;
    if (HWND target = (*s)->ControlWindow(c.Name());
        target != nullptr && IsWindowEnabled(target) && IsWindowVisible(target)) {
      SetFocus(target);
    }
  });
  Invoke([this] { form_.FormCreate(); });
  RenderAll();
  return true;
}

void TWin32MainWindow::Show() {
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  UpdateWindow(hwnd_);
  if (!shown_) {
    shown_ = true;
    // After the window is on the screen, so the advisory dialog stands in front of it.
    PostMessageW(hwnd_, kShownMessage, 0, 0);
  }
}

bool TWin32MainWindow::Close() {
  SendMessageW(hwnd_, WM_CLOSE, 0, 0);
  return closed_;
}

HWND TWin32MainWindow::ControlWindow(const std::string& name) const {
  const auto it = windows_.find(name);
  return it == windows_.end() ? nullptr : it->second;
}

void TWin32MainWindow::Invoke(const std::function<void()>& handler) {
  // Nothing may escape into the system's message loop.
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

TGeometry TWin32MainWindow::AbsoluteGeometry(const TControl& c) const {
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

bool TWin32MainWindow::ShownOnScreen(const TControl& c) const {
  const int active = form_.ActivePageIndex();
  for (const TControl* p = &c; p != nullptr;
       p = p->ParentName().empty() ? nullptr : form_.VM.Find(p->ParentName())) {
    if (!p->Visible()) return false;
    if (p->Page() >= 0 && p->Page() != active) return false;
  }
  return true;
}

void TWin32MainWindow::BuildControls() {
  int id = kFirstId;
  struct TTab {
    int group;
    TGeometry g;
    HWND w;
  };
  std::vector<TTab> tabs;
  for (const TControl* c : form_.VM.Controls()) {
    const wchar_t* cls = nullptr;
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
    DWORD ex = 0;
    switch (c->Kind()) {
      case TControlKind::ckLabel:
        cls = L"STATIC";
        style |= SS_NOPREFIX | (c == &form_.lbNoPorts ? SS_LEFT : SS_LEFTNOWORDWRAP);
        if (c == &form_.lbFirmwareFolder) style |= SS_PATHELLIPSIS;
        // The line wrapped over two rows stays, as the others, centred on its row.
        if (c != &form_.lbNoPorts) style |= SS_CENTERIMAGE;
        break;
      case TControlKind::ckButton:
        cls = L"BUTTON";
        style |= BS_PUSHBUTTON | WS_TABSTOP;
        break;
      case TControlKind::ckImage:
        cls = L"STATIC";
        style |= SS_OWNERDRAW;
        break;
      case TControlKind::ckComboBox:
        cls = L"COMBOBOX";
        style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
        break;
      case TControlKind::ckEdit:
        cls = L"EDIT";
        style |= ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP;
        ex = WS_EX_CLIENTEDGE;
        break;
      case TControlKind::ckProgressBar: cls = PROGRESS_CLASSW; break;
      case TControlKind::ckCheckBox:
        cls = L"BUTTON";
        style |= BS_AUTOCHECKBOX | WS_TABSTOP;
        break;
      case TControlKind::ckGroupBox:  // painted by the window, in the theme's colours
      case TControlKind::ckPanel:
      case TControlKind::ckPage: break;
    }
    if (cls == nullptr) continue;
    const TGeometry g = AbsoluteGeometry(*c);
    const int height = c->Kind() == TControlKind::ckComboBox ? g.Height * 8 : g.Height;  // the list's room
    HWND w = CreateWindowExW(ex, cls, L"", style, Scale(g.Left), Scale(g.Top), Scale(g.Width), Scale(height),
                             hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             GetModuleHandleW(nullptr), nullptr);
    if (w == nullptr) continue;
    HFONT font = font_;
    if (c == &form_.lbTaskType) font = title_;
    if (c == &form_.lbNoPorts || c == &form_.lbhdrProduct || c == &form_.lbAppName ||
        c->Kind() == TControlKind::ckGroupBox) {
      font = bold_;
    }
    SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    windows_[c->Name()] = w;
    controls_[w] = c;
    byId_[id] = c;
    ++id;
    if ((style & WS_TABSTOP) != 0) {
      const bool footer = c->ParentName() == form_.Panel2.Name();
      tabs.push_back({footer ? kPageCount : std::max(c->Page(), 0), g, w});
    }
  }
  // Tab order: top to bottom, then left to right, page by page, the footer last; the system
  // passes over hidden and disabled controls itself.
  std::stable_sort(tabs.begin(), tabs.end(), [](const TTab& a, const TTab& b) {
    if (a.group != b.group) return a.group < b.group;
    const int ca = a.g.Top + a.g.Height / 2, cb = b.g.Top + b.g.Height / 2;
    if (ca != cb) return ca < cb;
    return a.g.Left < b.g.Left;
  });
  HWND after = HWND_TOP;
  for (const TTab& t : tabs) {
    SetWindowPos(t.w, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    after = t.w;
  }
}

void TWin32MainWindow::RenderAll() {
  renderedPage_ = form_.ActivePageIndex();
  for (const TControl* c : form_.VM.Controls()) Render(*c);
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void TWin32MainWindow::Render(const TControl& c) {
  if (hwnd_ == nullptr) return;
  if (&c == &form_.frmMain) {
    SetWindowTextW(hwnd_, Wide(c.Caption()).c_str());
    return;
  }
  if (renderedPage_ != form_.ActivePageIndex()) {
    RenderAll();
    return;
  }
  // A container's change reaches what it holds.
  if (c.Kind() == TControlKind::ckGroupBox || c.Kind() == TControlKind::ckPanel) {
    for (const TControl* child : form_.VM.Controls()) {
      if (child->ParentName() == c.Name()) Render(*child);
    }
  }
  const HWND w = ControlWindow(c.Name());
  if (w == nullptr) {
    if (c.Kind() == TControlKind::ckGroupBox) InvalidateRect(hwnd_, nullptr, FALSE);
    return;
  }
  const TGeometry g = AbsoluteGeometry(c);
  RECT now{};
  GetWindowRect(w, &now);
  MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&now), 2);
  const int height = c.Kind() == TControlKind::ckComboBox ? g.Height * 8 : g.Height;
  if (now.left != Scale(g.Left) || now.top != Scale(g.Top) || now.right - now.left != Scale(g.Width) ||
      (c.Kind() != TControlKind::ckComboBox && now.bottom - now.top != Scale(height))) {
    SetWindowPos(w, nullptr, Scale(g.Left), Scale(g.Top), Scale(g.Width), Scale(height),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  switch (c.Kind()) {
    case TControlKind::ckLabel:
    case TControlKind::ckButton:
    case TControlKind::ckEdit:
    case TControlKind::ckGroupBox:
    case TControlKind::ckCheckBox: {
      const std::wstring text = Wide(c.Caption());
      wchar_t current[1024] = {};
      GetWindowTextW(w, current, 1024);
      if (text != current) SetWindowTextW(w, text.c_str());
      if (c.Kind() == TControlKind::ckCheckBox) {
        SendMessageW(w, BM_SETCHECK, c.Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
      }
      break;
    }
    case TControlKind::ckImage: InvalidateRect(w, nullptr, TRUE); break;
    case TControlKind::ckComboBox: {
      std::vector<std::wstring> shown;
      const auto n = static_cast<int>(SendMessageW(w, CB_GETCOUNT, 0, 0));
      for (int i = 0; i < n; ++i) {
        wchar_t item[256] = {};
        SendMessageW(w, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
        shown.emplace_back(item);
      }
      std::vector<std::wstring> items;
      for (const auto& i : c.Items()) items.push_back(Wide(i));
      if (items != shown) {
        SendMessageW(w, CB_RESETCONTENT, 0, 0);
        for (const auto& i : items) SendMessageW(w, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(i.c_str()));
      }
      SendMessageW(w, CB_SETCURSEL, static_cast<WPARAM>(c.ItemIndex()), 0);
      break;
    }
    case TControlKind::ckProgressBar:
      SendMessageW(w, PBM_SETRANGE32, static_cast<WPARAM>(c.Min()),
                   static_cast<LPARAM>(std::max(c.Min(), c.Max())));
      SendMessageW(w, PBM_SETPOS,
                   static_cast<WPARAM>(std::clamp(c.Position(), c.Min(), std::max(c.Min(), c.Max()))), 0);
      break;
    case TControlKind::ckPanel:
    case TControlKind::ckPage: break;
  }
  EnableWindow(w, c.Enabled() ? TRUE : FALSE);
  const bool show = ShownOnScreen(c);
  if ((IsWindowVisible(w) != FALSE) != show) ShowWindow(w, show ? SW_SHOWNA : SW_HIDE);
}

void TWin32MainWindow::Clicked(const TControl& c) {
  // As a real window: only what the installer can see and press.
  if (!ShownOnScreen(c) || !c.Enabled()) return;
  TfrmMain& f = form_;
  const std::string& n = c.Name();
  if (n == "btnNext") {
    Invoke([&f] { f.btnNextClick(); });
  } else if (n == "btnBack") {
    Invoke([&f] { f.btnBackClick(); });
  } else if (n == "btnCancel") {
    bool close = false;
    Invoke([&] { close = f.btnCancelClick(); });
    if (close) Close();
  } else if (n == "btnManual") {
    Invoke([&f] { f.btnManualClick(); });
  } else if (n == "btnConnect") {
    Invoke([this, &f] {
      // Without a serial port component there is no port that could be opened.
      if (f.Platform().ComPort == nullptr) {
        f.MessageDlg(TMsgKind::mkPlain, "Com port does not exist");
        return;
      }
      f.btnConnectClick();
    });
  } else if (n == "btnOpenHex") {
    Invoke([&f] { f.btnOpenHexClick(); });
  } else if (n == "btnResetFolder") {
    Invoke([&f] { f.btnResetFolderClick(); });
  } else if (n == "btnStart") {
    Invoke([&f] { f.btnStartClick(); });
  } else if (c.Page() == 2 && c.ParentName() == f.GroupBox2.Name() && c.Kind() == TControlKind::ckButton) {
    // The step buttons share one handler that tells them apart by their tag.
    const int tag = c.Tag();
    Invoke([&f, tag] { f.btnSelFlashClick(tag); });
  }
}

void TWin32MainWindow::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  RECT all{};
  GetClientRect(hwnd_, &all);
  FillRect(dc, &all, page_);
  const auto rect = [this](int l, int t, int w, int h) {
    return RECT{Scale(l), Scale(t), Scale(l + w), Scale(t + h)};
  };
  RECT header = rect(0, 0, kClientWidth, kHeaderHeight);
  FillRect(dc, &header, header_);
  HBRUSH accent = CreateSolidBrush(kAccentColour);
  RECT rule = rect(0, kHeaderHeight - 2, kClientWidth, 2);
  FillRect(dc, &rule, accent);
  DeleteObject(accent);
  HBRUSH line = CreateSolidBrush(kRuleColour);
  const int pageHeight = kClientHeight - kHeaderHeight - kFooterHeight;
  RECT side = rect(0, kHeaderHeight, kSidePanelWidth, pageHeight);
  FillRect(dc, &side, side_);
  RECT sideRule = rect(kSidePanelWidth - 1, kHeaderHeight, 1, pageHeight);
  FillRect(dc, &sideRule, line);
  RECT footer = rect(0, kClientHeight - kFooterHeight, kClientWidth, kFooterHeight);
  FillRect(dc, &footer, footer_);
  RECT footerRule = rect(0, kClientHeight - kFooterHeight, kClientWidth, 1);
  FillRect(dc, &footerRule, line);
  // The group boxes of the active page: white, ruled, their title in bold navy on the rule.
  HPEN pen = CreatePen(PS_SOLID, 1, kRuleColour);
  HGDIOBJ oldPen = SelectObject(dc, pen);
  HGDIOBJ oldBrush = SelectObject(dc, white_);
  HGDIOBJ oldFont = SelectObject(dc, bold_);
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, RGB(0xff, 0xff, 0xff));
  SetTextColor(dc, kNavyColour);
  for (const TControl* c : form_.VM.Controls()) {
    if (c->Kind() != TControlKind::ckGroupBox || !ShownOnScreen(*c)) continue;
    const TGeometry g = AbsoluteGeometry(*c);
    RoundRect(dc, Scale(g.Left), Scale(g.Top + 8), Scale(g.Left + g.Width), Scale(g.Top + g.Height), Scale(8),
              Scale(8));
    const std::wstring title = L" " + Wide(c->Caption()) + L" ";
    TextOutW(dc, Scale(g.Left + 8), Scale(g.Top + 1), title.c_str(), static_cast<int>(title.size()));
  }
  SelectObject(dc, oldFont);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(pen);
  DeleteObject(line);
  EndPaint(hwnd_, &ps);
}

LRESULT TWin32MainWindow::ColorStatic(HDC dc, HWND child) {
  const auto it = controls_.find(child);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, kTextColour);
  if (it == controls_.end()) return reinterpret_cast<LRESULT>(page_);
  const TControl* c = it->second;
  if (c == &form_.lbTaskType || c == &form_.lbhdrProduct || c == &form_.lbAppName ||
      c->Kind() == TControlKind::ckGroupBox) {
    SetTextColor(dc, kNavyColour);
  } else if (c == &form_.lbInstruction || c == &form_.lbHdrVersion || c == &form_.lbVersion) {
    SetTextColor(dc, kMutedColour);
  } else if (c == &form_.lbNoPorts) {
    SetTextColor(dc, kWarningColour);
  }
  // The label's background is the region it stands on.
  for (const TControl* p = c; p != nullptr;
       p = p->ParentName().empty() ? nullptr : form_.VM.Find(p->ParentName())) {
    if (p == &form_.StatusPanel) return reinterpret_cast<LRESULT>(header_);
    if (p == &form_.pnlSide) return reinterpret_cast<LRESULT>(side_);
    if (p == &form_.Panel2) return reinterpret_cast<LRESULT>(footer_);
    if (p != c && p->Kind() == TControlKind::ckGroupBox) return reinterpret_cast<LRESULT>(white_);
  }
  return reinterpret_cast<LRESULT>(page_);
}

void TWin32MainWindow::DrawPicture(const DRAWITEMSTRUCT& item) {
  const auto it = controls_.find(item.hwndItem);
  const RECT& r = item.rcItem;
  HBRUSH back = page_;
  if (it != controls_.end()) {
    for (const TControl* p = it->second; p != nullptr;
         p = p->ParentName().empty() ? nullptr : form_.VM.Find(p->ParentName())) {
      if (p == &form_.StatusPanel) back = header_;
      if (p == &form_.pnlSide) back = side_;
      if (p != it->second && p->Kind() == TControlKind::ckGroupBox) back = white_;
    }
  }
  FillRect(item.hDC, &r, back);
  if (it == controls_.end()) return;
  int w = 0, h = 0;
  HBITMAP bmp = LoadPicture(it->second->Picture(), w, h);
  if (bmp == nullptr || w <= 0 || h <= 0) return;
  const int boxW = r.right - r.left, boxH = r.bottom - r.top;
  // At its own size, or smaller to fit, keeping its proportions; centred.
  double scale = std::min({1.0, static_cast<double>(boxW) / w, static_cast<double>(boxH) / h});
  if (dpi_ > 96) scale = std::min(static_cast<double>(boxW) / w, static_cast<double>(boxH) / h);
  const int dw = static_cast<int>(w * scale), dh = static_cast<int>(h * scale);
  HDC mem = CreateCompatibleDC(item.hDC);
  HGDIOBJ old = SelectObject(mem, bmp);
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  SetStretchBltMode(item.hDC, HALFTONE);
  AlphaBlend(item.hDC, r.left + (boxW - dw) / 2, r.top + (boxH - dh) / 2, dw, dh, mem, 0, 0, w, h, blend);
  SelectObject(mem, old);
  DeleteDC(mem);
}

LRESULT TWin32MainWindow::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND: {
      const auto it = byId_.find(LOWORD(wParam));
      if (it == byId_.end()) break;
      const TControl& c = *it->second;
      if (HIWORD(wParam) == BN_CLICKED && c.Kind() == TControlKind::ckButton) {
        Clicked(c);
      } else if (HIWORD(wParam) == BN_CLICKED && c.Kind() == TControlKind::ckCheckBox) {
        const bool on = SendMessageW(reinterpret_cast<HWND>(lParam), BM_GETCHECK, 0, 0) == BST_CHECKED;
        TControl* control = form_.VM.Find(c.Name());
        Invoke([control, on] { control->SetChecked(on); });
      } else if (HIWORD(wParam) == CBN_SELCHANGE && c.Kind() == TControlKind::ckComboBox) {
        const auto index = static_cast<int>(SendMessageW(reinterpret_cast<HWND>(lParam), CB_GETCURSEL, 0, 0));
        TControl* control = form_.VM.Find(c.Name());
        Invoke([control, index] { control->SetItemIndex(index); });
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: return ColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DRAWITEM: DrawPicture(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)); return TRUE;
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: Paint(); return 0;
    case WM_GETMINMAXINFO: break;
    case 0x02E0: {  // WM_DPICHANGED: the window moves to a screen of another scale
      dpi_ = HIWORD(wParam);
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      for (const TControl* c : form_.VM.Controls()) Render(*c);
      InvalidateRect(hwnd_, nullptr, TRUE);
      return 0;
    }
    case kShownMessage: Invoke([this] { form_.FormShow(); }); return 0;
    case WM_CLOSE:
      if (!form_.FormCloseQuery()) return 0;  // refused while an update runs
      if (!closed_) {
        closed_ = true;
        Invoke([this] { form_.FormClose(); });
      }
      ShowWindow(hwnd_, SW_HIDE);
      PostQuitMessage(0);
      return 0;
    default: break;
  }
  return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

}  // namespace tarvex
