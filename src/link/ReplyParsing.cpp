#include "link/ReplyParsing.h"

#include <algorithm>

#include "core/ProductCatalogue.h"

namespace tarvex {

namespace {

constexpr std::size_t kMinIdentityLen = 14;
constexpr std::size_t kShortIdentityLen = 18;
constexpr std::size_t kLongIdentityLen = 34;
constexpr std::size_t kShortIdOffset = 6;
constexpr std::size_t kLongIdOffset = 14;
constexpr std::size_t kSerialNoLen = 16;
constexpr std::uint8_t kNvmLockBit = 0x40;

std::uint8_t Byte(const ByteString& s, std::size_t i) {
  return static_cast<std::uint8_t>(s[i]);
}

// Padding around the ID (blanks, control bytes) is not part of it.
ByteString Trim(ByteString s) {
  auto pad = [](char c) { return static_cast<std::uint8_t>(c) <= 0x20; };
  const auto first = std::find_if_not(s.begin(), s.end(), pad);
  const auto last = std::find_if_not(s.rbegin(), s.rend(), pad).base();
  return first < last ? ByteString(first, last) : ByteString();
}

void TakeUniqueID(const ByteString& data, std::size_t offset) {
  ByteString id = Trim(data.substr(offset, kUniqueIdMaxLen));
  // A product whose ID was never programmed reads as erased flash.
  if (id.size() >= 5 &&
      std::all_of(id.begin(), id.begin() + 5, [](char c) { return static_cast<std::uint8_t>(c) == 0xFF; })) {
    id.clear();
  }
  ProductInfo.SetUniqueID(id);
}

}  // namespace

void ParsePanelInfo(const ByteString& data) {
  ProductInfo.NvmLocked = false;
  if (data.size() < kMinIdentityLen) {
    ProductInfo.Major = 0;
    ProductInfo.Minor = 0;
    ProductInfo.Micro = 0;
    ProductInfo.Spare = 0;
    ProductInfo.Variant = 0;
    ProductInfo.ProductCode = 0;
    ProductInfo.SetSerialNo(kSerialNoUnavailable);
  } else {
    ProductInfo.Major = Byte(data, 0);
    ProductInfo.Minor = Byte(data, 1);
    ProductInfo.Micro = Byte(data, 2);
    ProductInfo.Spare = Byte(data, 3);
    ProductInfo.Variant = Byte(data, 4) == 0xFF ? 0 : Byte(data, 4);
    ProductInfo.ProductCode = Byte(data, 5);
    if (IsPeripheralProduct(ProductInfo.ProductCode)) {
      ProductInfo.SetSerialNo(kSerialNoUnavailable);
      if (data.size() == kShortIdentityLen) TakeUniqueID(data, kShortIdOffset);
    } else if (data.size() == kLongIdentityLen) {
      TakeUniqueID(data, kLongIdOffset);
    }
  }
  ProductInfo.Family = static_cast<std::uint8_t>(GetProductFamily(ProductInfo.ProductCode));
}

void ParseSerialNo(const ByteString& data) {
  if (data.size() != kSerialNoLen) {
    ProductInfo.SetSerialNo(kSerialNoUnavailable);
  } else if (std::all_of(data.begin(), data.end(),
                         [](char c) { return static_cast<std::uint8_t>(c) == 0xFF; })) {
    ProductInfo.SetSerialNo(kSerialNoBlank);
  } else {
    ProductInfo.SetSerialNo(data);
  }
}

void ParseNvmLock(const ByteString& data) {
  ProductInfo.NvmLocked = data.size() == 2 && (Byte(data, 1) & kNvmLockBit) != 0;
}

std::string FormatUniqueID(const ByteString& id) {
  if (id.size() != kUniqueIdMaxLen) return "Not Available";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < id.size(); ++i) {
    const auto b = Byte(id, i);
    text += kHex[b >> 4];
    text += kHex[b & 0x0F];
    if (i == 2 || i == 5 || i == 8) text += '-';
  }
  return text;
}

}  // namespace tarvex
