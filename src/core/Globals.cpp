#include "core/Globals.h"

#include <cstdarg>
#include <cstdio>
#include <iostream>
#include <locale>
#include <mutex>

namespace tarvex {

bool BootloaderMode = false;
TProductInfo ProductInfo;
std::uint8_t ProductMemSize = 0;
std::uint8_t ImageMemSize = 0;
std::int32_t ImageProductCode = 0;
bool FileReady = false;
std::vector<TMem2KPage> FileMemory;
std::vector<TMem2KPage> DeviceMemory;
std::vector<TAddressInfo> PageList;
std::uint16_t PageIdx = 0;
bool ManualMode = false;
bool NoVerify = false;
bool ShowUDLMessage = false;
std::string AppFolder;
std::string LastFolder;
std::string LogsFolder;
std::string FirmwareFolder;

void TProductInfo::SetSerialNo(std::string s) {
  if (s.size() > kSerialNoMaxLen) s.resize(kSerialNoMaxLen);
  SerialNo = std::move(s);
}

void TProductInfo::SetUniqueID(std::string s) {
  if (s.size() > kUniqueIdMaxLen) s.resize(kUniqueIdMaxLen);
  UniqueID = std::move(s);
}

void ResetGlobals() {
  BootloaderMode = false;
  ProductInfo = TProductInfo{};
  ProductMemSize = 0;
  ImageMemSize = 0;
  ImageProductCode = 0;
  FileReady = false;
  FileMemory.clear();
  FileMemory.shrink_to_fit();
  DeviceMemory.clear();
  DeviceMemory.shrink_to_fit();
  PageList.clear();
  PageIdx = 0;
  ManualMode = false;
  NoVerify = false;
  ShowUDLMessage = false;
  AppFolder.clear();
  LastFolder.clear();
  LogsFolder.clear();
  FirmwareFolder.clear();
}

TSwitches ParseSwitches(const std::vector<std::string>& args) {
  TSwitches s;
  for (const auto& a : args) {
    if (a == "/M") s.ManualMode = true;
    if (a == "/NV") s.NoVerify = true;
  }
  return s;
}

namespace {
IDebugOutput* g_debugSink = nullptr;
}

void SetDebugOutput(IDebugOutput* sink) {
  g_debugSink = sink;
}

void LogDebug(const std::string& text) {
  if (g_debugSink != nullptr) {
    g_debugSink->Output(text);
    return;
  }
  std::cerr << text << '\n';
}

std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

std::FILE* OpenFileUtf8(const std::string& utf8, const char* mode) {
#ifdef _WIN32
  const std::filesystem::path p = PathOf(utf8);
  const std::wstring wmode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(p.c_str(), wmode.c_str());
#else
  return std::fopen(utf8.c_str(), mode);
#endif
}

std::string Format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  const int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), fmt, ap2);
    out.resize(static_cast<std::size_t>(n));
  }
  va_end(ap2);
  return out;
}

std::string TrimTrailingBlanks(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string FormatVersion(std::int32_t major, std::int32_t minor) {
  return Format("%d.%.2d", major, minor);
}

namespace {
char g_decimalSeparator = 0;

char UserDecimalSeparator() {
  try {
    const std::locale user("");
    return std::use_facet<std::numpunct<char>>(user).decimal_point();
  } catch (const std::exception&) {
    return '.';  // an unusable locale setting falls back to the C convention
  }
}
}  // namespace

char DecimalSeparator() {
  if (g_decimalSeparator == 0) g_decimalSeparator = UserDecimalSeparator();
  return g_decimalSeparator;
}

void SetDecimalSeparator(char sep) {
  g_decimalSeparator = sep;
}

std::string FormatFloat2(double value) {
  std::string s = Format("%.2f", value);  // the C locale is always in force for printf here
  const char sep = DecimalSeparator();
  for (char& c : s) {
    if (c == '.') c = sep;
  }
  return s;
}

}  // namespace tarvex
