// The product link's 16-bit frame check. The table is the most-significant-bit-first table of the
// polynomial 0x1021, but the register is shifted least-significant-bit first; the product computes
// it this way, so both ends must.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tarvex {

inline constexpr std::uint16_t kCrcStart = 0xFFFF;

// The 256-entry table: entry i is the CRC of the single byte i, MSB first, poly 0x1021, start 0.
const std::array<std::uint16_t, 256>& CrcTable();

// One byte into the register.
inline std::uint16_t CrcUpdate(std::uint16_t r, std::uint8_t b) {
  return static_cast<std::uint16_t>(CrcTable()[(r ^ b) & 0xFFu] ^ (r >> 8));
}

// The check value of a run of bytes: start 0xFFFF, no final XOR.
std::uint16_t FrameCrc(const std::uint8_t* data, std::size_t size);
std::uint16_t FrameCrc(std::string_view bytes);

}  // namespace tarvex
