#include "tools/sample-firmware/SampleFirmware.h"

#include <cstdio>
#include <vector>

#include "core/ProductCatalogue.h"
#include "firmware/Acceptance.h"
#include "firmware/FlashImage.h"
#include "firmware/HexFile.h"
#include "tools/panel-sim/PanelSim.h"

namespace tarvex::samplefw {

namespace {

constexpr std::uint32_t kSamplePages = 48;
constexpr std::uint32_t kVectorCount = 64;  // words of the interrupt vector table
constexpr std::uint32_t kStackTop = 0x20005000;

void AppendRecord(std::string& out, std::uint8_t type, std::uint16_t address, const std::uint8_t* data,
                  std::size_t count) {
  char buf[16];
  unsigned sum = static_cast<unsigned>(count) + (address >> 8u) + (address & 0xFFu) + type;
  std::snprintf(buf, sizeof buf, ":%02X%04X%02X", static_cast<unsigned>(count & 0xFFu),
                static_cast<unsigned>(address), static_cast<unsigned>(type));
  out += buf;
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(buf, sizeof buf, "%02X", data[i]);
    out += buf;
    sum += data[i];
  }
  std::snprintf(buf, sizeof buf, "%02X\r\n", (256u - (sum & 0xFFu)) & 0xFFu);
  out += buf;
}

void PutWord(std::vector<std::uint8_t>& image, std::uint32_t at, std::uint32_t value) {
  for (std::uint32_t i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Filler from a fixed generator, never 0xFF: every page counts as in use, and no identity
// signature can turn up before the real block.
std::vector<std::uint8_t> MakeImage(const TSampleRecipe& recipe) {
  std::vector<std::uint8_t> image(recipe.Bytes);
  std::uint32_t state = 0x2545F491u;
  for (std::uint32_t i = 0; i < recipe.Bytes; ++i) {
    state = state * 1664525u + 1013904223u;
    image[i] = static_cast<std::uint8_t>((state >> 24) % 0xF0u);
  }
  // Vector table: initial stack pointer, then handlers inside the image (odd: Thumb code).
  PutWord(image, 0, kStackTop);
  for (std::uint32_t v = 1; v < kVectorCount && v * 4 + 4 <= recipe.IdentityAt; ++v) {
    PutWord(image, v * 4, kFlashBase + recipe.IdentityAt + 0x100 + v * 8 + 1);
  }
  const ByteString id = panelsim::TPanelSim::IdentityBlock(recipe.ProductCode, recipe.Variant, recipe.Major,
                                                           recipe.Minor, recipe.GigaDevice);
  for (std::size_t i = 0; i < id.size() && recipe.IdentityAt + i < image.size(); ++i) {
    image[recipe.IdentityAt + i] = static_cast<std::uint8_t>(id[i]);
  }
  return image;
}

}  // namespace

TSampleRecipe DefaultRecipe() {
  const panelsim::TProductConfig emulated;
  TSampleRecipe recipe;
  recipe.ProductCode = emulated.ProductCode;
  recipe.Variant = emulated.Variant;
  recipe.Major = static_cast<std::uint8_t>(emulated.Major + 1);
  recipe.Minor = emulated.Minor;
  recipe.GigaDevice = true;
  recipe.Bytes = kSamplePages * kPageSize - 0x2C0;
  recipe.IdentityAt = kVectorCount * 4;
  return recipe;
}

TProductInfo EmulatedProduct() {
  const panelsim::TProductConfig emulated;
  TProductInfo info;
  info.ProductCode = emulated.ProductCode;
  info.Variant = emulated.Variant;
  info.Major = emulated.Major;
  info.Minor = emulated.Minor;
  info.Micro = static_cast<std::uint8_t>(emulated.Micro);
  info.Family = static_cast<std::uint8_t>(GetProductFamily(emulated.ProductCode));
  return info;
}

std::string MakeSampleHex(const TSampleRecipe& recipe) {
  const std::vector<std::uint8_t> image = MakeImage(recipe);
  std::string out;
  out.reserve(recipe.Bytes / 16u * 45u + 64u);
  for (std::uint32_t at = 0; at < recipe.Bytes; at += 16) {
    const std::uint32_t address = kFlashBase + at;
    if (at == 0 || (address & 0xFFFFu) == 0) {
      const std::uint8_t upper[2] = {static_cast<std::uint8_t>(address >> 24),
                                     static_cast<std::uint8_t>(address >> 16)};
      AppendRecord(out, 4, 0, upper, 2);
    }
    const std::size_t count = std::min<std::size_t>(16, recipe.Bytes - at);
    AppendRecord(out, 0, static_cast<std::uint16_t>(address & 0xFFFFu), image.data() + at, count);
  }
  AppendRecord(out, 1, 0, nullptr, 0);
  return out;
}

std::optional<std::string> CheckAgainst(const std::string& hex, const TProductInfo& product) {
  const std::uint32_t pages = MemSizePages(GetMemSize(product.ProductCode));
  if (pages == 0)
    return "the catalogue gives no memory size for product code " + std::to_string(product.ProductCode);
  SetImagePages(pages);
  if (!LoadHexText(hex)) return kMsgErrorReadingFile;
  TProductInfo file;
  ReadTextIdentity(hex, file);
  const TFileVerdict verdict = JudgeFile(product, file);
  if (!verdict.Accepted) return verdict.Error;
  if (file.VersionNumber() <= product.VersionNumber()) return "the file is not newer than the product";
  return std::nullopt;
}

}  // namespace tarvex::samplefw
