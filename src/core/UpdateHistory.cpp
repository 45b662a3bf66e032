#include "core/UpdateHistory.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "core/Globals.h"

namespace tarvex {

namespace {

struct TFileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

const std::vector<std::string>& HistoryHeader() {
  static const std::vector<std::string> header{
      "Date and time", "Program version", "Port",           "Product type", "Product code", "Serial number",
      "Unique ID",     "Microcontroller", "Version before", "File",         "File SHA-256", "File version",
      "Boot loader",   "Erase",           "Write",          "Verify",       "Run",          "Verdict",
      "Error",         "Duration (s)"};
  return header;
}

const char* StepResultText(TStepResult result) {
  switch (result) {
    case TStepResult::srPassed: return "passed";
    case TStepResult::srFailed: return "failed";
    case TStepResult::srSkipped: break;
  }
  return "skipped";
}

std::vector<std::string> HistoryFields(const THistoryEntry& e) {
  std::vector<std::string> f{e.When,          e.ProgramVersion, e.Port,       e.ProductType,
                             e.ProductCode,   e.SerialNumber,   e.UniqueId,   e.Microcontroller,
                             e.VersionBefore, e.File,           e.FileSha256, e.FileVersion};
  for (const TStepResult s : e.Steps) f.emplace_back(StepResultText(s));
  f.emplace_back(e.Passed ? "passed" : "failed");
  f.push_back(e.Error);
  f.push_back(Format("%.1f", e.DurationSeconds));
  return f;
}

std::string CsvLine(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i != 0) line += ',';
    const std::string& f = fields[i];
    if (f.find_first_of(",\"\r\n") == std::string::npos) {
      line += f;
      continue;
    }
    line += '"';
    for (const char c : f) {
      if (c == '"') line += '"';
      line += c;
    }
    line += '"';
  }
  return line + "\r\n";
}

bool ParseCsv(std::string_view text, std::vector<std::vector<std::string>>& rows) {
  rows.clear();
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;    // inside quotes
  bool anything = false;  // the record so far holds a character or a separator
  std::size_t i = 0;
  const auto endRecord = [&] {
    row.push_back(std::move(field));
    field.clear();
    rows.push_back(std::move(row));
    row.clear();
    anything = false;
  };
  while (i < text.size()) {
    const char c = text[i++];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (i < text.size() && text[i] == '"') {
        field += '"';
        ++i;
      } else {
        quoted = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        quoted = true;
        anything = true;
        break;
      case ',':
        row.push_back(std::move(field));
        field.clear();
        anything = true;
        break;
      case '\r':
        if (i < text.size() && text[i] == '\n') ++i;
        endRecord();
        break;
      case '\n': endRecord(); break;
      default:
        field += c;
        anything = true;
        break;
    }
  }
  if (quoted) return false;
  if (anything) endRecord();
  return true;
}

std::string LocalTimeIso8601(std::time_t t) {
  // Copies at once: both calls share one static buffer.
  const std::tm local = *std::localtime(&t);
  const std::tm utc = *std::gmtime(&t);
  int days = local.tm_yday - utc.tm_yday;
  if (local.tm_year != utc.tm_year) days = local.tm_year > utc.tm_year ? 1 : -1;
  const int offset = days * 1440 + (local.tm_hour - utc.tm_hour) * 60 + (local.tm_min - utc.tm_min);
  const int magnitude = offset < 0 ? -offset : offset;
  return Format("%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+',
                magnitude / 60, magnitude % 60);
}

bool AppendHistoryFile(const std::string& logsFolder, const THistoryEntry& entry, std::string& error) {
  const std::string path = logsFolder + kHistoryFile;
  std::error_code ec;
  const bool fresh =
      !std::filesystem::exists(PathOf(path), ec) || std::filesystem::file_size(PathOf(path), ec) == 0;
  errno = 0;
  const std::unique_ptr<std::FILE, TFileCloser> f(OpenFileUtf8(path, "ab"));
  if (!f) {
    error = errno != 0 ? std::strerror(errno) : "it cannot be opened";
    return false;
  }
  const std::string text = (fresh ? CsvLine(HistoryHeader()) : std::string()) + CsvLine(HistoryFields(entry));
  const bool written = std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
  if (!written || std::fflush(f.get()) != 0) {
    error = errno != 0 ? std::strerror(errno) : "it cannot be written";
    return false;
  }
  return true;
}

}  // namespace tarvex
