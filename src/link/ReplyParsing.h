// Decoding of the product's identity replies into ProductInfo.
#pragma once

#include <string>

#include "core/Globals.h"

namespace tarvex {

// Serial number texts shown when the product gives none, or one of all 0xFF bytes.
inline constexpr const char* kSerialNoUnavailable = "-------";
inline constexpr const char* kSerialNoBlank = "--------";

// Data of the identity reply: 18 bytes for peripheral products, 34 for control panels.
void ParsePanelInfo(const ByteString& data);
// Data of the serial number read: 16 bytes of text.
void ParseSerialNo(const ByteString& data);
// Data of the NVM lock read: 2 bytes, the lock in bit 6 of the second.
void ParseNvmLock(const ByteString& data);
// A 12-byte unique ID as 010203-040506-070809-0A0B0C; "Not Available" for any other length.
std::string FormatUniqueID(const ByteString& id);

}  // namespace tarvex
