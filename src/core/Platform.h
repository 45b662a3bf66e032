// Seams between the toolkit-free core and the operating system or GUI toolkit. Each has a Linux
// (or console) implementation in app/platform, a recording fake in the tests, and room for a
// Windows implementation beside the Linux one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/UpdateHistory.h"
#include "core/Win32Names.h"

namespace tarvex {

class IComPort;      // serial/ComPortIntf.h
class IMessagePump;  // serial/MessagePump.h
class IUsbBackend;   // devices/UsbClass.h

// Settings store with registry semantics --------------------------------------------------------

// Raised while reading a value stored with another type than the one asked for.
class ESettingsTypeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One open key. Values are typed: 32-bit integers and strings.
class ISettingsKey {
 public:
  virtual ~ISettingsKey() = default;
  [[nodiscard]] virtual bool ValueExists(const std::string& name) const = 0;
  // Raise ESettingsTypeError when the value holds another type; std::out_of_range when missing.
  [[nodiscard]] virtual std::int32_t ReadInteger(const std::string& name) const = 0;
  [[nodiscard]] virtual std::string ReadString(const std::string& name) const = 0;
  virtual void WriteInteger(const std::string& name, std::int32_t value) = 0;
  virtual void WriteString(const std::string& name, const std::string& value) = 0;
  // Makes the writes durable. Also done by the destructor; errors there are swallowed.
  virtual void Close() = 0;
};

class ISettingsStore {
 public:
  virtual ~ISettingsStore() = default;
  // Opens the per-user key (a path like "Software\Maker\Program\1.0"), creating it when asked.
  // nullptr when it cannot be opened or created.
  virtual std::unique_ptr<ISettingsKey> OpenKey(const std::string& path, bool canCreate) = 0;
};

// Special folders and the file system ------------------------------------------------------------

class IFolders {
 public:
  virtual ~IFolders() = default;
  // The special folder's path without trailing separator, not created; empty on failure.
  virtual std::string GetSpecialFolder(int csidl) = 0;
  virtual bool DirectoryExists(const std::string& path) = 0;
  // Creates one folder (its parent must exist). False on failure.
  virtual bool CreateDir(const std::string& path) = 0;
  // Folder of the program file, with a trailing separator.
  virtual std::string ProgramFolder() = 0;
};

// The separator the folder paths of this platform use.
#ifdef _WIN32
inline constexpr char kPathSep = '\\';
#else
inline constexpr char kPathSep = '/';
#endif

// Message boxes, file dialog, shell ---------------------------------------------------------------

enum class TMsgKind { mkError, mkInformation, mkWarning, mkPlain };

// Modal boxes with a single OK button. Show returns once the user has closed the box.
class IMessageBoxes {
 public:
  virtual ~IMessageBoxes() = default;
  virtual void Show(TMsgKind kind, const std::string& text) = 0;
};

struct TOpenDialogOptions {
  std::string Title;
  std::string Filter;      // "Description|pattern" pairs
  std::string DefaultExt;  // "*.hex"
  std::string InitialDir;
  std::string FileName;  // the last chosen file, kept between openings
};

class IFileDialog {
 public:
  virtual ~IFileDialog() = default;
  // The chosen file's full path, or nothing when the user cancelled.
  virtual std::optional<std::string> Execute(const TOpenDialogOptions& options) = 0;
};

class IShell {
 public:
  virtual ~IShell() = default;
  // Opens a file with its default program, or a URL in the browser. The answer is not reported.
  virtual void Open(const std::string& target) = 0;
};

// Serial port names ("COM<n>") the PC offers, unsorted.
class IPortEnumerator {
 public:
  virtual ~IPortEnumerator() = default;
  virtual std::vector<std::string> PortNames() = 0;
};

// Where the record of each update attempt is kept.
class IUpdateHistory {
 public:
  virtual ~IUpdateHistory() = default;
  // False, with the reason, when the entry could not be kept.
  virtual bool Append(const std::string& logsFolder, const THistoryEntry& entry, std::string& error) = 0;
};

// The CSV file in the Logs folder, for every front end.
class TFileUpdateHistory final : public IUpdateHistory {
 public:
  bool Append(const std::string& logsFolder, const THistoryEntry& entry, std::string& error) override {
    return AppendHistoryFile(logsFolder, entry, error);
  }
};

// The advisory dialog shown before the first update.
class IAdvisoryDialog {
 public:
  virtual ~IAdvisoryDialog() = default;
  // Shows it modally; true only when it was left with its "Close" button while "Do not show this
  // message again" was ticked.
  virtual bool GetUDLMessageOpts() = 0;
};

// Everything the main window reaches the platform through. The owner keeps the objects alive for
// the window's lifetime; any pointer may be null where a front end has no use for the service.
struct TPlatform {
  ISettingsStore* Settings = nullptr;
  IFolders* Folders = nullptr;
  IMessageBoxes* MessageBoxes = nullptr;
  IFileDialog* FileDialog = nullptr;
  IShell* Shell = nullptr;
  IPortEnumerator* Ports = nullptr;
  IAdvisoryDialog* Advisory = nullptr;
  // None: no history is kept (tests that do not look at it).
  IUpdateHistory* History = nullptr;
  // The user-interface thread's message queue (messages 1124 and 1125 go through it).
  IMessagePump* Pump = nullptr;
  // The serial port component the window talks to the product through.
  IComPort* ComPort = nullptr;
  // Makes the watcher of USB devices for the window's notifier; none in tests (they notify by hand).
  std::function<std::unique_ptr<IUsbBackend>()> UsbBackend;
};

}  // namespace tarvex
