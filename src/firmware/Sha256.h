// SHA-256, to name exactly which firmware file went into a product.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvex {

class TSha256 {
 public:
  TSha256();
  void Update(const void* data, std::size_t size);
  // The digest; the object is spent afterwards.
  std::array<std::uint8_t, 32> Final();

 private:
  void Block(const std::uint8_t* p);
  std::array<std::uint32_t, 8> h_;
  std::array<std::uint8_t, 64> buf_{};
  std::size_t used_ = 0;
  std::uint64_t length_ = 0;
};

// 64 lower-case hex digits.
std::string Sha256Hex(std::string_view data);
// Of a file's bytes, read in chunks; nothing when it cannot be read.
std::optional<std::string> Sha256OfFile(const std::string& fileName);

}  // namespace tarvex
