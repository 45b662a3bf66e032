// The record of every update attempt: one CSV line per Start, kept in the Logs folder, so that
// later anyone can tell which panel got which firmware and how it went.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

inline constexpr const char* kHistoryFile = "Update History.csv";

// The steps of an update, in order; each passed, failed or never reached.
enum class THistoryStep : std::uint8_t { hsBootLoader, hsErase, hsWrite, hsVerify, hsRun };
inline constexpr std::size_t kHistorySteps = 5;
enum class TStepResult : std::uint8_t { srSkipped, srPassed, srFailed };

struct THistoryEntry {
  std::string When;  // ISO 8601, local time with its offset
  std::string ProgramVersion;
  std::string Port;
  std::string ProductType;
  std::string ProductCode;
  std::string SerialNumber;
  std::string UniqueId;
  std::string Microcontroller;
  std::string VersionBefore;
  std::string File;
  std::string FileSha256;
  std::string FileVersion;
  std::array<TStepResult, kHistorySteps> Steps{};
  bool Passed = false;
  std::string Error;
  double DurationSeconds = 0;
};

// The column names, and one entry's fields in the same order.
const std::vector<std::string>& HistoryHeader();
std::vector<std::string> HistoryFields(const THistoryEntry& entry);
const char* StepResultText(TStepResult result);

// One RFC 4180 record with its CR LF: fields with a comma, a quote or a line end are quoted.
std::string CsvLine(const std::vector<std::string>& fields);
// The records of RFC 4180 text (CR LF or LF); false when a quoted field is never closed.
bool ParseCsv(std::string_view text, std::vector<std::vector<std::string>>& rows);

// "2026-12-11T14:05:09+01:00"
std::string LocalTimeIso8601(std::time_t t);

// Appends an entry to logsFolder's history, with the header line when the file is new; false,
// with the reason, when it cannot be written.
bool AppendHistoryFile(const std::string& logsFolder, const THistoryEntry& entry, std::string& error);

}  // namespace tarvex
