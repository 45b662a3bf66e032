// The program's PNG pictures, kept as RCDATA resources under their names, decoded with WIC; and a
// window's picture saved as a PNG file.
#include <wincodec.h>

#include <map>
#include <string>
#include <vector>

#include "serial/Win32Text.h"
#include "wingui/Win32Window.h"

namespace tarvex {

namespace {

template <class T>
struct TCom {
  T* p = nullptr;
  ~TCom() {
    if (p != nullptr) p->Release();
  }
  T** operator&() { return &p; }
  T* operator->() const { return p; }
};

IWICImagingFactory* Factory() {
  static IWICImagingFactory* factory = [] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IWICImagingFactory* f = nullptr;
    CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                     reinterpret_cast<void**>(&f));
    return f;
  }();
  return factory;
}

struct TPicture {
  HBITMAP bitmap = nullptr;
  int width = 0, height = 0;
};

TPicture Decode(const std::string& name) {
  TPicture pic;
  const std::wstring wname = WideFromUtf8(name);
  HRSRC res = FindResourceW(nullptr, wname.c_str(), reinterpret_cast<LPCWSTR>(RT_RCDATA));
  if (res == nullptr) return pic;
  HGLOBAL data = LoadResource(nullptr, res);
  const DWORD size = SizeofResource(nullptr, res);
  const void* bytes = data != nullptr ? LockResource(data) : nullptr;
  IWICImagingFactory* f = Factory();
  if (bytes == nullptr || size == 0 || f == nullptr) return pic;
  TCom<IWICStream> stream;
  TCom<IWICBitmapDecoder> decoder;
  TCom<IWICBitmapFrameDecode> frame;
  TCom<IWICFormatConverter> converter;
  if (FAILED(f->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(bytes)), size)) ||
      FAILED(f->CreateDecoderFromStream(stream.p, nullptr, WICDecodeMetadataCacheOnLoad, &decoder)) ||
      FAILED(decoder->GetFrame(0, &frame)) || FAILED(f->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(frame.p, GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr,
                                   0.0, WICBitmapPaletteTypeCustom))) {
    return pic;
  }
  UINT w = 0, h = 0;
  converter->GetSize(&w, &h);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = static_cast<LONG>(w);
  bi.bmiHeader.biHeight = -static_cast<LONG>(h);
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bmp == nullptr) return pic;
  if (FAILED(converter->CopyPixels(nullptr, w * 4, w * h * 4, static_cast<BYTE*>(bits)))) {
    DeleteObject(bmp);
    return pic;
  }
  pic.bitmap = bmp;
  pic.width = static_cast<int>(w);
  pic.height = static_cast<int>(h);
  return pic;
}

}  // namespace

HBITMAP LoadPicture(const std::string& name, int& width, int& height) {
  static std::map<std::string, TPicture> cache;
  auto it = cache.find(name);
  if (it == cache.end()) it = cache.emplace(name, Decode(name)).first;
  width = it->second.width;
  height = it->second.height;
  return it->second.bitmap;
}

bool TWin32MainWindow::SaveScreenshot(const std::string& file) const {
  return SaveWindowPicture(hwnd_, file);
}

bool SaveWindowPicture(HWND hwnd_, const std::string& file) {
  RECT rc{};
  GetClientRect(hwnd_, &rc);
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  if (w <= 0 || h <= 0) return false;
  // The pixels as they are on the screen: the window, its children and whatever they draw.
  POINT origin{0, 0};
  ClientToScreen(hwnd_, &origin);
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, origin.x, origin.y, SRCCOPY);
  SelectObject(mem, old);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  for (int i = 0; i < w * h; ++i) static_cast<std::uint8_t*>(bits)[i * 4 + 3] = 0xFF;  // opaque

  bool ok = false;
  IWICImagingFactory* f = Factory();
  TCom<IWICStream> stream;
  TCom<IWICBitmapEncoder> encoder;
  TCom<IWICBitmapFrameEncode> frame;
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
  if (f != nullptr && SUCCEEDED(f->CreateStream(&stream)) &&
      SUCCEEDED(stream->InitializeFromFilename(WideFromUtf8(file).c_str(), GENERIC_WRITE)) &&
      SUCCEEDED(f->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
      SUCCEEDED(encoder->Initialize(stream.p, WICBitmapEncoderNoCache)) &&
      SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
      SUCCEEDED(frame->SetSize(static_cast<UINT>(w), static_cast<UINT>(h))) &&
      SUCCEEDED(frame->SetPixelFormat(&format)) &&
      SUCCEEDED(frame->WritePixels(static_cast<UINT>(h), static_cast<UINT>(w * 4),
                                   static_cast<UINT>(w * h * 4), static_cast<BYTE*>(bits))) &&
      SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit())) {
    ok = true;
  }
  DeleteObject(bmp);
  return ok;
}

}  // namespace tarvex
