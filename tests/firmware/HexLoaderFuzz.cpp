// libFuzzer target: any bytes as a HEX file. The loader must neither crash nor store outside the
// image; a file it accepts must consist of lines that pass the record check, one of them an end
// record; and what it stores must keep the "in use" marks right.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "firmware/FlashImage.h"
#include "firmware/HexFile.h"

using namespace tarvex;

namespace {

std::string_view StripLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
    line.remove_suffix(1);
  return line;
}

void CheckAcceptedText(std::string_view text) {
  bool sawEnd = false;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    const std::string_view line = StripLineEnd(text.substr(0, nl));
    if (!CheckHexRecord(line)) __builtin_trap();
    if (line.size() >= 11 && line.substr(7, 2) == "01") sawEnd = true;
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
  if (!sawEnd) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A small image keeps each run cheap; addresses past it must fail, never write.
  if (FileMemory.size() != 128) SetImagePages(128);
  ResetMemory(kFileImage);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const bool loaded = LoadHexText(text);
  if (loaded) CheckAcceptedText(text);

  static const std::array<std::uint8_t, kPageSize> erased = [] {
    std::array<std::uint8_t, kPageSize> a{};
    a.fill(0xFF);
    return a;
  }();
  for (const auto& page : FileMemory) {
    if (!page.InUse && std::memcmp(page.Data, erased.data(), kPageSize) != 0) __builtin_trap();
  }

  TProductInfo info;
  info.Micro = 0x77;
  ReadTextIdentity(text, info);
  // Without a block the maker letter is left alone; with one it is one of the two makers.
  if (info.Micro != 0x77 && info.Micro != 'G' && info.Micro != 'S') __builtin_trap();
  if (info.Micro == 0x77 && (info.ProductCode | info.Variant | info.Major | info.Minor) != 0)
    __builtin_trap();
  return 0;
}
