// Intel HEX firmware files (record types 00 data, 01 end of file, 04 extended linear address):
// loading their data into FileMemory, and finding the identity block the firmware carries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/Globals.h"

namespace tarvex {

// The longest line read. A record holds at most 255 bytes (521 characters); anything much longer
// is not HEX and is refused without reading it whole.
inline constexpr std::size_t kMaxHexLine = 1024;

// Value of a text of 1 to 8 hexadecimal digits (either case); nothing for an empty text or one with
// any other character.
std::optional<std::uint32_t> HexToInt(std::string_view text);

// True when the line starts with ":" and all its bytes, checksum included, add up to 0 mod 256.
bool CheckHexRecord(std::string_view line);

// The largest file read: a 1 MB firmware is under 3 MB of HEX text.
inline constexpr std::uint64_t kMaxHexFileSize = 64ull * 1024 * 1024;

// The first fault a load met, for the installer: what, and on which line (counted from 1; 0 when
// the fault is the file's as a whole).
enum class THexFaultKind : std::uint8_t {
  hfNone,
  hfMissing,         // no such file
  hfNotRegularFile,  // a folder, a device or a pipe
  hfCannotRead,      // cannot be opened or read
  hfTooLarge,        // beyond kMaxHexFileSize
  hfNotHex,          // a line that is not a record
  hfWrongLength,     // a record whose length does not match its data
  hfBadChecksum,
  hfOutsideMemory,  // data outside the product's flash memory
  hfNoEndOfFile,    // cut short: no end-of-file record
  hfNoData,         // a whole file without a byte of firmware
};
struct THexFault {
  THexFaultKind Kind = THexFaultKind::hfNone;
  std::size_t Line = 0;
};
// "fw.hex, line 12: bad checksum" (the file's own name, without its folder).
std::string HexFaultText(const std::string& fileName, const THexFault& fault);

// Reads the file into FileMemory at the records' flash addresses; the caller resets the images
// first. False on any failure: a missing, unreadable, non-regular or too large file, a line that
// is not a well-formed record, data outside the image, or no end-of-file record; fault (when
// given) says which. Bytes stored before a failure stay in the image.
bool LoadHexFile(const std::string& fileName, THexFault* fault = nullptr);

// Fills ProductCode, Variant, Major, Minor, Micro, Spare and Family from the first identity block
// (0x55 0xAA 0xFF, code, variant, major, minor, optional "GD") among the file's data bytes in file
// order. Major, Minor, ProductCode, Family and Variant are zeroed first and stay zero when the file
// cannot be read or carries no block; Micro is then left as it was.
void ReadFileIdentity(const std::string& fileName, TProductInfo& info);

// The same two over HEX text in memory.
bool LoadHexText(std::string_view text, THexFault* fault = nullptr);
void ReadTextIdentity(std::string_view text, TProductInfo& info);

}  // namespace tarvex
