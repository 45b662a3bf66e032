#include "bootloader/BootFrames.h"

namespace tarvex {

namespace {

constexpr std::uint32_t kPageOffsetMask = kPageSize - 1;
constexpr unsigned kPageShift = 11;

struct TImagePos {
  std::size_t page;
  std::size_t offset;
};

TImagePos PosOf(std::uint32_t addr) {
  // The page number is a 16-bit value, as the images count pages.
  return {static_cast<std::uint16_t>((addr - kFlashBase) >> kPageShift), addr & kPageOffsetMask};
}

void Advance(TImagePos& pos) {
  if (++pos.offset >= kPageSize) {
    pos.offset = 0;
    ++pos.page;
  }
}

char Ch(std::uint32_t v) {
  return static_cast<char>(static_cast<std::uint8_t>(v & 0xFF));
}

}  // namespace

void AppendXorChecksum(ByteString& frame) {
  std::uint8_t x = 0;
  for (const char c : frame) x = static_cast<std::uint8_t>(x ^ static_cast<std::uint8_t>(c));
  frame += static_cast<char>(x);
}

ByteString AddrToBytes(std::uint32_t addr) {
  return {Ch(addr >> 24), Ch(addr >> 16), Ch(addr >> 8), Ch(addr)};
}

ByteString BuildCommandFrame(std::uint8_t cmd) {
  return {Ch(cmd), Ch(cmd ^ 0xFFu)};
}

ByteString BuildAddressFrame(std::uint32_t addr) {
  ByteString frame = AddrToBytes(addr);
  AppendXorChecksum(frame);
  return frame;
}

ByteString BuildReadCountFrame(std::uint16_t rwSize) {
  const auto n = static_cast<std::uint8_t>(rwSize - 1);
  return {Ch(n), Ch(n ^ 0xFFu)};
}

ByteString BuildErasePageFrame(std::uint16_t page) {
  ByteString frame{'\x00', '\x01', Ch(page >> 8), Ch(page)};
  AppendXorChecksum(frame);
  return frame;
}

void BuildWriteData(std::uint32_t addr, std::uint16_t count, ByteString& frame) {
  frame.clear();
  // The length byte can only say 1 to 256; any other count would send a frame the target misreads.
  if (count == 0 || count > kMaxBlockSize) return;
  TImagePos pos = PosOf(addr);
  if (pos.page >= FileMemory.size()) return;
  frame += Ch(count - 1u);
  for (std::uint16_t i = 0; i < count; ++i) {
    frame += static_cast<char>(FileMemory[pos.page].Data[pos.offset]);
    Advance(pos);
    if (pos.page >= FileMemory.size()) break;
  }
}

void StoreReadData(std::uint32_t addr, const ByteString& reply) {
  if (reply.size() < 2) return;
  TImagePos pos = PosOf(addr);
  if (pos.page >= DeviceMemory.size()) return;
  for (std::size_t i = 1; i + 1 < reply.size(); ++i) {
    const auto b = static_cast<std::uint8_t>(reply[i]);
    TMem2KPage& page = DeviceMemory[pos.page];
    page.Data[pos.offset] = b;
    if (b != kErasedByte) page.InUse = true;
    Advance(pos);
    if (pos.page >= DeviceMemory.size()) break;
  }
}

}  // namespace tarvex
