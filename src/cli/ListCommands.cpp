// `tarvex-flash history [--last N]`: the update history kept in the Logs folder, as a table; and
// `tarvex-flash ports`: the serial ports as the desktop program lists them.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>

#include "app/Main.h"
#include "app/platform/SystemServices.h"
#include "cli/Cli.h"
#include "cli/FlashCommand.h"
#include "core/UpdateHistory.h"

namespace tarvex::cli {

namespace {

// Far beyond any history a programmer builds up; a larger file is not read into memory.
constexpr std::uintmax_t kMaxHistorySize = 64ull * 1024 * 1024;

void PrintHistoryHelp(std::ostream& out) {
  out << "Usage: tarvex-flash history [--last N]\n\n"
         "Prints the update history kept in \""
      << kHistoryFile
      << "\" in the Logs folder: one row per\n"
         "update attempt, by the desktop program or by tarvex-flash flash, oldest first.\n\n"
         "Options:\n"
         "  --last N    only the last N attempts\n"
         "  -h, --help  show this help\n\n"
         "Exit status: 0 the history was printed (or none is kept yet), 1 it cannot be read,\n"
         "2 a usage error.\n";
}

}  // namespace

int RunHistory(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               const TFlashServices& services) {
  TParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {{"last", true}, {"help", false}}, parsed, error) || !parsed.Positional.empty()) {
    UsageError(err, "history", error.empty() ? "unexpected argument '" + parsed.Positional[0] + "'" : error);
    return kExitUsage;
  }
  if (parsed.Has("help")) {
    PrintHistoryHelp(out);
    return kExitOk;
  }
  std::size_t last = 0;
  if (parsed.Has("last")) {
    const std::string& n = parsed.Options["last"];
    if (n.empty() || n.size() > 6 ||
        !std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; }) || std::stoul(n) == 0) {
      UsageError(err, "history", "--last takes a number of attempts from 1 to 999999");
      return kExitUsage;
    }
    last = std::stoul(n);
  }

  TSystemServices system;
  IFolders* folders = services.Folders;
  if (folders == nullptr) {
    system = MakeSystemServices();
    folders = system.Folders.get();
  }
  const std::string path =
      DataFoldersUnder(folders != nullptr ? folders->GetSpecialFolder(CSIDL_COMMON_APPDATA) : std::string())
          .Logs +
      kHistoryFile;
  std::error_code ec;
  if (!std::filesystem::exists(PathOf(path), ec)) {
    out << "No update has been recorded yet (" << path << ").\n";
    return kExitOk;
  }
  const std::uintmax_t size = std::filesystem::file_size(PathOf(path), ec);
  if (ec || size > kMaxHistorySize) {
    err << "tarvex-flash history: " << path << (ec ? " cannot be read" : " is too large to read") << "\n";
    return kExitFailure;
  }
  std::ifstream in(PathOf(path), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::vector<std::string>> rows;
  if (!in.good() && !in.eof()) {
    err << "tarvex-flash history: " << path << " cannot be read\n";
    return kExitFailure;
  }
  if (!ParseCsv(text, rows) || rows.empty() || rows[0] != HistoryHeader()) {
    err << "tarvex-flash history: " << path
        << " is not an update history (its header line is missing or "
           "a quoted field is never closed)\n";
    return kExitFailure;
  }

  // The columns an installer looks for; the file holds the rest.
  const std::vector<std::string> shown{"Date and time",  "Port",         "Product type", "Serial number",
                                       "Version before", "File version", "Verdict",      "Error"};
  std::vector<std::size_t> at;
  for (const auto& name : shown) {
    at.push_back(static_cast<std::size_t>(std::find(rows[0].begin(), rows[0].end(), name) - rows[0].begin()));
  }
  std::vector<std::vector<std::string>> table{shown};
  const std::size_t first = last != 0 && rows.size() - 1 > last ? rows.size() - last : 1;
  for (std::size_t r = first; r < rows.size(); ++r) {
    std::vector<std::string> cells;
    for (const std::size_t c : at) {
      std::string cell = c < rows[r].size() ? rows[r][c] : std::string();
      cell = cell.substr(0, cell.find_first_of("\r\n"));  // an error's first line
      cells.push_back(std::move(cell));
    }
    table.push_back(std::move(cells));
  }
  std::vector<std::size_t> width(shown.size(), 0);
  for (const auto& row : table) {
    for (std::size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
  }
  for (const auto& row : table) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(width[c] - row[c].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << "\n";
  }
  if (table.size() == 1) out << "(no update attempts)\n";
  return kExitOk;
}

int RunPorts(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             const TFlashServices& services) {
  TParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {{"help", false}}, parsed, error) || !parsed.Positional.empty()) {
    UsageError(err, "ports", error.empty() ? "unexpected argument '" + parsed.Positional[0] + "'" : error);
    return kExitUsage;
  }
  if (parsed.Has("help")) {
    out << "Usage: tarvex-flash ports\n\n"
           "Prints the serial ports, one name a line, as the desktop program lists them.\n\n"
           "Options:\n"
           "  -h, --help  show this help\n";
    return kExitOk;
  }
  TSystemServices system;
  IPortEnumerator* ports = services.Ports;
  if (ports == nullptr) {
    system = MakeSystemServices();
    ports = system.Ports.get();
  }
  std::vector<std::string> names = ports != nullptr ? ports->PortNames() : std::vector<std::string>{};
  // In the order of the number, as a person reads them.
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  for (const auto& n : names) out << n << "\n";
  return kExitOk;
}

}  // namespace tarvex::cli
