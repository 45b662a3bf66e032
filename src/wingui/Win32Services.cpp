#include "wingui/Win32Services.h"

#include <commdlg.h>

#include <iterator>
#include <vector>

#include "app/AdvisoryTexts.h"
#include "serial/Win32Text.h"

namespace tarvex {

namespace {

constexpr const wchar_t* kAdvisoryClass = L"TarvexAdvisory";
constexpr int kIdLink = 101;
constexpr int kIdCheck = 102;
constexpr int kTextWidth = 520;
constexpr int kMargin = 18;

const wchar_t* BoxTitle(TMsgKind kind) {
  switch (kind) {
    case TMsgKind::mkError: return L"Error";
    case TMsgKind::mkInformation: return L"Information";
    case TMsgKind::mkWarning: return L"Warning";
    case TMsgKind::mkPlain: break;
  }
  return L"Tarvex Flash Programmer";
}

}  // namespace

void TWin32MessageBoxes::Show(TMsgKind kind, const std::string& text) {
  UINT icon = 0;
  switch (kind) {
    case TMsgKind::mkError: icon = MB_ICONERROR; break;
    case TMsgKind::mkInformation: icon = MB_ICONINFORMATION; break;
    case TMsgKind::mkWarning: icon = MB_ICONWARNING; break;
    case TMsgKind::mkPlain: break;
  }
  MessageBoxW(owner_, WideFromUtf8(text).c_str(), BoxTitle(kind), MB_OK | icon | MB_APPLMODAL);
}

std::optional<std::string> TWin32FileDialog::Execute(const TOpenDialogOptions& options) {
  // "Description|pattern" pairs become the dialog's NUL-separated list.
  std::wstring filter = WideFromUtf8(options.Filter);
  for (wchar_t& c : filter) {
    if (c == L'|') c = L'\0';
  }
  filter.push_back(L'\0');
  filter.push_back(L'\0');
  std::vector<wchar_t> file(32768, L'\0');
  const std::wstring last = WideFromUtf8(options.FileName);
  std::copy(last.begin(), last.begin() + std::min<std::size_t>(last.size(), file.size() - 1), file.begin());
  const std::wstring title = WideFromUtf8(options.Title);
  const std::wstring dir = WideFromUtf8(options.InitialDir);
  std::wstring ext = WideFromUtf8(options.DefaultExt);
  while (!ext.empty() && (ext.front() == L'*' || ext.front() == L'.')) ext.erase(0, 1);
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner_;
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrTitle = title.c_str();
  ofn.lpstrInitialDir = dir.empty() ? nullptr : dir.c_str();
  ofn.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
  // Read-only box hidden, share-aware, resizable (the explorer style is).
  ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_SHAREAWARE |
              OFN_ENABLESIZING;
  if (!GetOpenFileNameW(&ofn)) return std::nullopt;
  return Utf8FromWide(file.data());
}

// ---- The advisory dialog ------------------------------------------------------------------------

LRESULT CALLBACK AdvisoryProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* dialog = reinterpret_cast<TfrmUDLMessage*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (dialog == nullptr) return DefWindowProcW(hwnd, msg, wParam, lParam);
  if (msg == WM_NCCREATE) dialog->hwnd_ = hwnd;
  return dialog->Handle(msg, wParam, lParam);
}

TfrmUDLMessage::TfrmUDLMessage(HWND owner, IShell* shell) : owner_(owner), shell_(shell) {
  static const bool registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = AdvisoryProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kAdvisoryClass;
    return RegisterClassExW(&wc) != 0;
  }();
  (void)registered;
  font_ = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI");
  linkFont_ = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, TRUE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI");
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kAdvisoryClass,
                  WideFromUtf8(kAdvisoryCaption).c_str(), style, 0, 0, 100, 100, owner, nullptr,
                  GetModuleHandleW(nullptr), this);
  if (hwnd_ == nullptr) return;

  HDC dc = GetDC(hwnd_);
  HGDIOBJ old = SelectObject(dc, font_);
  int y = kMargin - 2;
  const auto paragraph = [&](const std::string& text, HFONT font, int id, DWORD extra) {
    const std::wstring w = WideFromUtf8(text);
    RECT r{0, 0, kTextWidth, 0};
    DrawTextW(dc, w.c_str(), static_cast<int>(w.size()), &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    HWND h = CreateWindowExW(0, L"STATIC", w.c_str(), WS_CHILD | WS_VISIBLE | SS_NOPREFIX | SS_LEFT | extra,
                             kMargin, y, kTextWidth, r.bottom, hwnd_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                             nullptr);
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    y += r.bottom + 10;
    return h;
  };
  for (const char* p : kAdvisoryParagraphs) paragraph(p, font_, 0, 0);
  link_ = paragraph(std::string(kMakerWebHost) + kInstallerPath, linkFont_, kIdLink, SS_NOTIFY);
  paragraph(kAdvisoryContact, font_, 0, 0);
  paragraph(std::string("Telephone: ") + kSupportPhone + "      Email: " + kSupportEmail, font_, 0, 0);
  SelectObject(dc, old);
  ReleaseDC(hwnd_, dc);
  y += 6;
  check_ = CreateWindowExW(0, L"BUTTON", WideFromUtf8(kAdvisoryDontShow).c_str(),
                           WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, kMargin, y, 300, 24, hwnd_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdCheck)), GetModuleHandleW(nullptr),
                           nullptr);
  SendMessageW(check_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  HWND close = CreateWindowExW(
      0, L"BUTTON", WideFromUtf8(kAdvisoryClose).c_str(),
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, kMargin + kTextWidth - 80, y, 80, 26, hwnd_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(close, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  y += 26 + 14;

  RECT rc{0, 0, kTextWidth + 2 * kMargin, y};
  AdjustWindowRectEx(&rc, style, FALSE, WS_EX_DLGMODALFRAME);
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  // Centred on the screen.
  SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - w) / 2,
               work.top + (work.bottom - work.top - h) / 2, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

TfrmUDLMessage::~TfrmUDLMessage() {
  if (hwnd_ != nullptr) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  if (font_ != nullptr) DeleteObject(font_);
  if (linkFont_ != nullptr) DeleteObject(linkFont_);
}

bool TfrmUDLMessage::GetUDLMessageOpts() {
  if (hwnd_ == nullptr) return false;
  // Modal: the owner takes no input until the dialog is gone; everything else goes on.
  const bool ownerEnabled = owner_ != nullptr && IsWindowEnabled(owner_);
  if (ownerEnabled) EnableWindow(owner_, FALSE);
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
  MSG msg;
  while (!done_ && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(hwnd_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (!done_) PostQuitMessage(static_cast<int>(msg.wParam));  // the program ends: the loop hears it too
  if (ownerEnabled) EnableWindow(owner_, TRUE);
  ShowWindow(hwnd_, SW_HIDE);
  if (owner_ != nullptr) SetForegroundWindow(owner_);
  return closedWithClose_ && SendMessageW(check_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TfrmUDLMessage::lbFirmwareDLClick() {
  if (shell_ != nullptr) shell_->Open(std::string(kMakerWebHost) + kInstallerPath);
}

LRESULT TfrmUDLMessage::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        closedWithClose_ = true;  // "Close": the dialog's modal result is OK
        done_ = true;
        return 0;
      }
      if (LOWORD(wParam) == IDCANCEL) {  // Escape: as the window's close box
        done_ = true;
        return 0;
      }
      if (LOWORD(wParam) == kIdLink && HIWORD(wParam) == STN_CLICKED) {
        lbFirmwareDLClick();
        return 0;
      }
      break;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) == link_) {
        SetTextColor(reinterpret_cast<HDC>(wParam), RGB(0x1a, 0x5f, 0xb4));
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
      }
      break;
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wParam) == link_) {
        SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
        return TRUE;
      }
      break;
    case WM_CLOSE:
      done_ = true;  // the close box keeps the dialog for the next start
      return 0;
    default: break;
  }
  return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

bool TWin32AdvisoryDialog::GetUDLMessageOpts() {
  TfrmUDLMessage dialog(owner_, shell_);
  return dialog.GetUDLMessageOpts();
}

}  // namespace tarvex
