// Shared state of the programmer: the records, enumerations and global variables that outlive
// a single operation, and the small routines every subsystem uses. Everything here is touched
// only on the user-interface thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tarvex {

class TCommsJob;  // product-link job (link/ComsTasks.h)

// Frames of both protocols are strings of 8-bit bytes; std::string carries them (any byte value,
// NUL included).
using ByteString = std::string;

// State of the serial link.
enum class TComsState : std::uint8_t {
  csPortClosed = 0,
  csPortOpen = 1,
  csConnected = 2,
  csReady = 3,
  csReadWrite = 4,
};

inline constexpr std::size_t kSerialNoMaxLen = 16;
inline constexpr std::size_t kUniqueIdMaxLen = 12;

// Identity of a product, or of a firmware file.
struct TProductInfo {
  std::int32_t Major = 0;
  std::int32_t Minor = 0;
  std::uint8_t Micro = 0;  // 'G' GigaDevice, 'S' ST Microelectronics, 0xFF unrecognised
  std::uint8_t Spare = 0;
  std::uint8_t ProductCode = 0;
  std::uint8_t Family = 0;  // 0xFF when the code is not in the catalogue
  std::uint8_t Variant = 0;
  std::string SerialNo;  // at most kSerialNoMaxLen characters
  std::string UniqueID;  // raw bytes, at most kUniqueIdMaxLen
  bool NvmLocked = false;

  // Assigning through these keeps the short-string limits of the stored record.
  void SetSerialNo(std::string s);
  void SetUniqueID(std::string s);
  // Major x 100 + Minor, the number every version comparison uses.
  [[nodiscard]] std::int32_t VersionNumber() const { return Major * 100 + Minor; }
};

// Flash memory image -------------------------------------------------------------------------

inline constexpr std::uint32_t kFlashBase = 0x08000000;
inline constexpr std::uint32_t kPageSize = 2048;
inline constexpr std::uint8_t kErasedByte = 0xFF;

// One 2 KB flash page of an image.
struct TMem2KPage {
  std::uint16_t ID = 0;
  bool InUse = false;
  std::uint8_t Data[kPageSize];
};

// One entry of the list of pages in use.
struct TAddressInfo {
  std::uint16_t PageID = 0;
  std::uint32_t StartAddr = 0;
  std::uint32_t EndAddr = 0;
};

// Global state (unit Globals) ----------------------------------------------------------------

extern std::unique_ptr<TCommsJob> CommsJob;  // defined with TCommsJob in the link library
extern bool BootloaderMode;
extern TProductInfo ProductInfo;
extern std::uint8_t ProductMemSize;
extern std::uint8_t ImageMemSize;
extern std::int32_t ImageProductCode;
extern bool FileReady;
extern std::vector<TMem2KPage> FileMemory;
extern std::vector<TMem2KPage> DeviceMemory;
extern std::vector<TAddressInfo> PageList;
extern std::uint16_t PageIdx;
extern bool ManualMode;
extern bool NoVerify;
extern bool ShowUDLMessage;
extern std::string AppFolder;
extern std::string LastFolder;
extern std::string LogsFolder;
extern std::string FirmwareFolder;

// Puts every global of this unit back to its load-time value (tests and the headless front end
// start each run from a clean slate). CommsJob belongs to the link library, which resets it.
void ResetGlobals();

// Program identity.
inline constexpr const char* kAppTitle = "Tarvex Flash Programmer";
inline constexpr const char* kAppName = "Flash Programmer";
inline constexpr const char* kAppVersion = "1.20.0.0";
inline constexpr const char* kMakerFolder = "Tarvex Ltd";
inline constexpr const char* kProductFolder = "Flash Programmer";
inline constexpr const char* kManualFile = "MAN214 - Flash Programmer Instructions.pdf";
// Written into the Logs folder when a verify finds differences.
inline constexpr const char* kVerifyReportFile = "Verification Data.txt";

// Command-line switches ----------------------------------------------------------------------

struct TSwitches {
  bool ManualMode = false;  // "/M"
  bool NoVerify = false;    // "/NV"
};
// Each argument is compared exactly, case included; anything else is ignored.
TSwitches ParseSwitches(const std::vector<std::string>& args);

// Debug log ----------------------------------------------------------------------------------

// Receives LogDebug lines: the platform's debugger output channel (standard error on Linux), or
// a capture in tests.
class IDebugOutput {
 public:
  virtual ~IDebugOutput() = default;
  virtual void Output(const std::string& line) = 0;
};

// The text, unchanged, as one line. No file, no time stamp, no prefix.
void LogDebug(const std::string& text);
// Installs the sink (nullptr restores standard error). The caller keeps ownership.
void SetDebugOutput(IDebugOutput* sink);

// File names ---------------------------------------------------------------------------------

// The program holds every path as UTF-8; these hand it to the file system as the system takes it
// (wide characters on Windows), so "Überwachung.hex" opens everywhere.
std::filesystem::path PathOf(const std::string& utf8);
std::string Utf8Of(const std::filesystem::path& path);
// fopen by a UTF-8 name; nullptr on failure.
std::FILE* OpenFileUtf8(const std::string& utf8, const char* mode);

// Formatting ---------------------------------------------------------------------------------

// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Without its trailing blanks (a serial number's padding).
std::string TrimTrailingBlanks(std::string text);
// "%d.%.2d" of a version's two parts (1.05).
std::string FormatVersion(std::int32_t major, std::int32_t minor);
// "%.2f" with the user's decimal separator (4,62 under a German locale).
std::string FormatFloat2(double value);
// The decimal separator FormatFloat2 uses; taken from the user's locale on first use. Tests pin it.
char DecimalSeparator();
void SetDecimalSeparator(char sep);

}  // namespace tarvex
