// The frames the programmer sends to the product's boot loader, and the storing of read-back data.
// Numbers of this protocol are big-endian; checksums are the XOR of the frame's earlier bytes.
#pragma once

#include <cstdint>

#include "core/Globals.h"

namespace tarvex {

inline constexpr std::uint8_t kBootSync = 0x7F;
inline constexpr std::uint8_t kBootAck = 0x79;
inline constexpr std::uint8_t kBootNack = 0x1F;
inline constexpr std::uint8_t kCmdRead = 0x11;
inline constexpr std::uint8_t kCmdGo = 0x21;
inline constexpr std::uint8_t kCmdWrite = 0x31;
inline constexpr std::uint8_t kCmdErase = 0x44;
// Largest READ or WRITE block.
inline constexpr std::uint16_t kMaxBlockSize = 256;
// Reply timer periods in ticks: the sync is answered at once, flash work takes longer.
inline constexpr std::int32_t kSyncTimeoutTicks = 18;
inline constexpr std::int32_t kBootTimeoutTicks = 90;

// Appends the XOR of all bytes of the frame (0 for an empty frame).
void AppendXorChecksum(ByteString& frame);
// The four bytes of the address, most significant first.
ByteString AddrToBytes(std::uint32_t addr);

// A command byte followed by its complement.
ByteString BuildCommandFrame(std::uint8_t cmd);
// The address's four bytes and their checksum.
ByteString BuildAddressFrame(std::uint32_t addr);
// The READ count of a block of rwSize bytes (1 to 256): rwSize - 1 and its complement.
ByteString BuildReadCountFrame(std::uint16_t rwSize);
// One page to erase: the count field 0x00 0x01 (the product's boot loader expects it for one
// page), the page number and the checksum.
ByteString BuildErasePageFrame(std::uint16_t page);

// The WRITE data frame without its checksum: the length byte (count - 1) and count bytes of
// FileMemory from addr on. Empty when addr lies outside the image or count is not 1 to 256.
void BuildWriteData(std::uint32_t addr, std::uint16_t count, ByteString& frame);
// Copies the data of a complete READ reply (all but the leading ACK and the final byte) into
// DeviceMemory from addr on; every stored byte other than 0xFF marks its page in use.
void StoreReadData(std::uint32_t addr, const ByteString& reply);

}  // namespace tarvex
