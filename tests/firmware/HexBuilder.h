// Builds HEX text and temporary files for the firmware tests, the fuzzer's seeds and the benchmark.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace tarvex::test {

// One record line (no line end) with its checksum, upper-case digits.
inline std::string HexRecord(std::uint8_t type, std::uint16_t address,
                             const std::vector<std::uint8_t>& data) {
  std::string s = ":";
  char buf[3];
  unsigned sum = 0;
  const auto put = [&](unsigned b) {
    std::snprintf(buf, sizeof buf, "%02X", b & 0xFF);
    s += buf;
    sum += b;
  };
  put(static_cast<unsigned>(data.size()));
  put(address >> 8u);
  put(address & 0xFFu);
  put(type);
  for (const auto b : data) put(b);
  put((256 - (sum & 0xFF)) & 0xFF);
  return s;
}

inline std::string ExtAddr(std::uint16_t upper) {
  return HexRecord(4, 0, {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper & 0xFF)});
}
inline std::string Data(std::uint16_t address, const std::vector<std::uint8_t>& bytes) {
  return HexRecord(0, address, bytes);
}
inline const std::string kEof = ":00000001FF";

// Joins lines with the given line end (every line ends with it).
inline std::string Lines(const std::vector<std::string>& lines, const std::string& eol = "\r\n") {
  std::string s;
  for (const auto& l : lines) s += l + eol;
  return s;
}

// The identity block: signature, code, variant, major, minor, then the given tail bytes.
inline std::vector<std::uint8_t> IdentityBlock(std::uint8_t code, std::uint8_t variant, std::uint8_t major,
                                               std::uint8_t minor, std::vector<std::uint8_t> tail = {}) {
  std::vector<std::uint8_t> b{0x55, 0xAA, 0xFF, code, variant, major, minor};
  b.reserve(b.size() + tail.size());
  for (const auto t : tail) b.push_back(t);  // not insert: GCC 12 warns falsely of its memcpy
  return b;
}

// HEX text of a whole image of `pages` pages from the flash base, 16-byte records, an extended
// address record for every 64 KB, an identity block at the start and an end-of-file record.
inline std::string FullImageHex(std::uint32_t pages, std::uint8_t code, std::uint8_t major,
                                std::uint8_t minor) {
  std::string s;
  s.reserve(pages * 2048u / 16u * 45u);
  const std::uint32_t bytes = pages * 2048u;
  for (std::uint32_t a = 0; a < bytes; a += 16) {
    if ((a & 0xFFFFu) == 0) s += ExtAddr(static_cast<std::uint16_t>(0x0800u + (a >> 16))) + "\r\n";
    std::vector<std::uint8_t> rec(16);
    for (std::uint32_t i = 0; i < 16; ++i) rec[i] = static_cast<std::uint8_t>((a + i) * 7u + (a >> 11));
    if (a == 0x200) rec = {0x55, 0xAA, 0xFF, code, 0, major, minor, 'G', 'D', 0, 0, 0, 0, 0, 0, 0};
    s += Data(static_cast<std::uint16_t>(a & 0xFFFFu), rec) + "\r\n";
  }
  s += kEof + "\r\n";
  return s;
}

}  // namespace tarvex::test
