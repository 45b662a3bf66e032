// Intel HEX firmware files (record types 00 data, 01 end of file, 04 extended linear address):
// loading their data into FileMemory, and finding the identity block the firmware carries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/Globals.h"

namespace tarvex {

// The longest line read. A record holds at most 255 bytes (521 characters); anything much longer
// is not HEX and is refused without reading it whole.
inline constexpr std::size_t kMaxHexLine = 1024;

// Value of a text of 1 to 8 hexadecimal digits (either case); nothing for an empty text or one with
// any other character.
std::optional<std::uint32_t> HexToInt(std::string_view text);

// True when the line starts with ":" and all its bytes, checksum included, add up to 0 mod 256.
bool CheckHexRecord(std::string_view line);

// Reads the file into FileMemory at the records' flash addresses; the caller resets the images
// first. False on any failure: a missing, unreadable or non-regular file, a line that is not a
// well-formed record, data outside the image, or no end-of-file record. Bytes stored before a
// failure stay in the image.
bool LoadHexFile(const std::string& fileName);

// Fills ProductCode, Variant, Major, Minor, Micro, Spare and Family from the first identity block
// (0x55 0xAA 0xFF, code, variant, major, minor, optional "GD") among the file's data bytes in file
// order. Major, Minor, ProductCode, Family and Variant are zeroed first and stay zero when the file
// cannot be read or carries no block; Micro is then left as it was.
void ReadFileIdentity(const std::string& fileName, TProductInfo& info);

// The same two over HEX text in memory.
bool LoadHexText(std::string_view text);
void ReadTextIdentity(std::string_view text, TProductInfo& info);

}  // namespace tarvex
