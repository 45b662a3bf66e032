#include "core/ProductCatalogue.h"

namespace tarvex {

const std::array<TProductDef, kProductDefCount> ProductDefs = {{
    {1, 1, "MV-300/310 Keypad", 1, 100, 1},
    {2, 2, "Glass Keypad", 0, 121, 5},
    {7, 7, "QL-2B", 0, 100, 5},
    {102, 1, "HB-70", 0, 100, 1},
    {105, 1, "DR4", 0, 510, 5},
    {110, 10, "VN-12", 1, 100, 5},
    {120, 10, "VN-22", 1, 100, 5},
    {140, 10, "VN-44", 1, 100, 5},
    {160, 10, "VN-88", 1, 100, 5},
    {110, 10, "PX-12", 0, 100, 5},
    {111, 10, "PQ-12/PR-12", 0, 100, 5},
    {120, 10, "PX-22", 0, 100, 5},
    {121, 10, "PQ-22/PR-22", 0, 100, 5},
    {25, 25, "PX-27", 0, 100, 2},
    {30, 30, "PX-33", 0, 100, 5},
    {40, 40, "R-PX-44", 0, 100, 5},
    {50, 50, "PX-55", 0, 153, 5},
    {50, 50, "PX-55", 10, 153, 5},
    {60, 10, "PX-66", 0, 432, 5},
    {61, 10, "PQ-66/PR-66", 0, 441, 5},
    {100, 50, "PX-111", 0, 153, 5},
    {200, 50, "PX-222", 0, 153, 5},
}};

namespace {
const TProductDef* FirstWithCode(std::int32_t code) {
  for (const auto& row : ProductDefs) {
    if (row.Code == code) return &row;
  }
  return nullptr;
}
}  // namespace

std::string GetProductName(std::uint8_t code, std::uint8_t variant) {
  for (const auto& row : ProductDefs) {
    if (row.Code == code && row.Variant == variant) return row.Name;
  }
  return kUnknownProduct;
}

std::int32_t GetProductFamily(std::int32_t code) {
  const auto* row = FirstWithCode(code);
  return row != nullptr ? row->Family : -1;
}

std::int32_t GetMinVersion(std::uint8_t code) {
  const auto* row = FirstWithCode(code);
  return row != nullptr ? row->MinVersion : -1;
}

bool RemoteFlashSupported(const TProductInfo& info) {
  const std::int32_t version = info.VersionNumber();
  for (const auto& row : ProductDefs) {
    if (row.Code == info.ProductCode && row.MinVersion <= version) return true;
  }
  return false;
}

std::uint8_t GetMemSize(std::uint8_t code) {
  const auto* row = FirstWithCode(code);
  return row != nullptr ? row->MemSize : 0;
}

bool IsPeripheralProduct(std::uint8_t code) {
  return code == 1 || code == 2 || code == 7 || code == 102 || code == 105;
}

std::uint32_t MemSizePages(std::uint8_t memSizeCode) {
  switch (memSizeCode & 0x7F) {
    case 1: return 128;
    case 2: return 192;
    case 3: return 256;
    case 4: return 384;
    case 5: return 512;
    default: return 0;
  }
}

std::uint32_t VerifyLimit(std::uint8_t memSizeCode, std::uint8_t productCode) {
  switch (memSizeCode & 0x7F) {
    case 1: return 0x0803F800;
    case 2: return 0x0805F800;
    case 3: return 0x0807F800;
    case 4: return 0x080BF800;
    case 5: return productCode == 105 ? 0x0807F000 : 0x080E0000;
    default: return 0;
  }
}

}  // namespace tarvex
