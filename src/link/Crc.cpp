#include "link/Crc.h"

namespace tarvex {

namespace {

constexpr std::array<std::uint16_t, 256> MakeTable() {
  std::array<std::uint16_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned r = i << 8;
    for (int bit = 0; bit < 8; ++bit) r = (r & 0x8000u) != 0 ? (r << 1) ^ 0x1021u : r << 1;
    t[i] = static_cast<std::uint16_t>(r & 0xFFFFu);
  }
  return t;
}

constexpr std::array<std::uint16_t, 256> kTable = MakeTable();

}  // namespace

const std::array<std::uint16_t, 256>& CrcTable() {
  return kTable;
}

std::uint16_t FrameCrc(const std::uint8_t* data, std::size_t size) {
  std::uint16_t r = kCrcStart;
  for (std::size_t i = 0; i < size; ++i) r = CrcUpdate(r, data[i]);
  return r;
}

std::uint16_t FrameCrc(std::string_view bytes) {
  return FrameCrc(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace tarvex
