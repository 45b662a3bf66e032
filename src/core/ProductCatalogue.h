// The built-in table of products the programmer knows, and its lookups. Every lookup scans the
// rows in order and stops at the first match; the order of the rows matters.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/Globals.h"

namespace tarvex {

struct TProductDef {
  std::uint8_t Code;
  std::uint8_t Family;
  const char* Name;
  std::uint8_t Variant;
  std::int32_t MinVersion;  // Major x 100 + Minor
  std::uint8_t MemSize;     // memory-size code
};

inline constexpr std::size_t kProductDefCount = 22;
extern const std::array<TProductDef, kProductDefCount> ProductDefs;

inline constexpr const char* kUnknownProduct = "Unknown Product";

// Name of the first row with this code and variant; "Unknown Product" when there is none.
std::string GetProductName(std::uint8_t code, std::uint8_t variant);
// Family of the first row with this code; -1 when there is none.
std::int32_t GetProductFamily(std::int32_t code);
// MinVersion of the first row with this code; -1 when there is none.
std::int32_t GetMinVersion(std::uint8_t code);
// True when some row of the product's code has a minimum the product's version reaches.
bool RemoteFlashSupported(const TProductInfo& info);
// MemSize of the first row with this code; 0 when there is none.
std::uint8_t GetMemSize(std::uint8_t code);

// Products that are not control panels (short identity layout, no serial-number or NVM-lock
// reads, no advice to default after an update).
bool IsPeripheralProduct(std::uint8_t code);

// Memory-size codes: only the low 7 bits count. Pages of the images for a code; 0 when the code
// gives no size (the images keep theirs).
std::uint32_t MemSizePages(std::uint8_t memSizeCode);
// Address at and above which verify differences are passed over. Codes 3 and 4 (no catalogue row
// uses them) stop at the start of the image's last page, the same rule codes 1 and 2 follow. A
// code without an image size gives 0 (nothing is compared).
std::uint32_t VerifyLimit(std::uint8_t memSizeCode, std::uint8_t productCode);

}  // namespace tarvex
