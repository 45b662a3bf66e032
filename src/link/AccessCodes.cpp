#include "link/AccessCodes.h"

#include <cctype>

namespace tarvex {

namespace {

// Key schedule: after each byte the key becomes ((key + cipher byte) x M + A) mod 65536.
constexpr std::uint16_t kCodeMultiplier = 0x3A6D;
constexpr std::uint16_t kCodeIncrement = 0x5C29;

// Cipher texts made by tools/panel-sim/encipher-code.py from codes drawn at random; the plain
// codes exist nowhere in the sources.
constexpr const char* kFirstCodeCipher = "C21C93C2";
constexpr std::uint16_t kFirstCodeKey = 0xB71D;
constexpr const char* kSecondCodeCipher = "79F0DCBC6B113EA633CD";
constexpr std::uint16_t kSecondCodeKey = 0x4E93;
constexpr const char* kEntryCodeCipher = "82B4";
constexpr std::uint16_t kEntryCodeKey = 0xC058;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string DescrambleCode(const std::string& cipherText, std::uint16_t key) {
  std::string out;
  std::uint16_t k = key;
  for (std::size_t i = 0; i + 1 < cipherText.size(); i += 2) {
    const int hi = HexValue(static_cast<char>(std::toupper(static_cast<unsigned char>(cipherText[i]))));
    const int lo = HexValue(static_cast<char>(std::toupper(static_cast<unsigned char>(cipherText[i + 1]))));
    if (hi < 0 || lo < 0) return {};
    const auto c = static_cast<std::uint16_t>(hi * 16 + lo);
    out += static_cast<char>(c ^ (k >> 8));
    k = static_cast<std::uint16_t>((k + c) * kCodeMultiplier + kCodeIncrement);
  }
  return out;
}

ByteString FirstAccessCode() {
  return DescrambleCode(kFirstCodeCipher, kFirstCodeKey);
}
ByteString SecondAccessCode() {
  return DescrambleCode(kSecondCodeCipher, kSecondCodeKey);
}
ByteString BootloaderEntryCode() {
  return DescrambleCode(kEntryCodeCipher, kEntryCodeKey);
}

}  // namespace tarvex
