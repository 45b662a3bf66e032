#include "firmware/Acceptance.h"

#include "core/ProductCatalogue.h"

namespace tarvex {

namespace {

constexpr std::uint8_t kMicroG = 'G';
constexpr std::uint8_t kMicroS = 'S';
constexpr std::uint8_t kMicroUnknown = 0xFF;
constexpr std::uint8_t kGlassKeypad = 2;
constexpr std::uint8_t kKeypadMV = 1;
constexpr std::int32_t kFactoryDefaultVersion = 462;
constexpr std::int32_t kLogEraseVersion = 502;

// Panels whose configuration does not survive the step to 4.62.
bool DefaultsOnUpgrade(std::uint8_t code) {
  return code == 60 || code == 61 || (code >= 110 && code <= 121);
}

}  // namespace

TFileVerdict JudgeFile(const TProductInfo& product, const TProductInfo& file) {
  TFileVerdict v;
  const std::int32_t f = file.VersionNumber();
  if (product.Micro == kMicroG && file.Micro == kMicroS) {
    v.Error = kMsgWrongMicro;
  } else if (product.Micro == kMicroUnknown && file.Micro == kMicroG && product.ProductCode == kGlassKeypad) {
    v.Error = kMsgKeypadMicro;
  } else if (file.ProductCode != product.ProductCode) {
    v.Error = kMsgWrongProduct;
  } else if (const std::int32_t min = GetMinVersion(product.ProductCode); min > f) {
    v.Error = "You cannot flash downgrade the product below version " + FormatFloat2(min / 100.0) +
              "!. Please select another file";
  } else if (product.ProductCode == kKeypadMV && (f == 109 || f == 110)) {
    v.Error = kMsgNoVersion109;
  } else {
    v.Accepted = true;
    if (DefaultsOnUpgrade(product.ProductCode) && product.VersionNumber() < kFactoryDefaultVersion &&
        f >= kFactoryDefaultVersion) {
      v.Warning = f >= kLogEraseVersion ? "Flash updating to version " + FormatFloat2(f / 100.0) +
                                              " will cause the panel to default and the log to be erased!"
                                        : "Flash updating to version " + FormatFloat2(f / 100.0) +
                                              " will cause the panel to default to factory settings!";
    }
  }
  return v;
}

std::string FileMicroText(const TProductInfo& file) {
  return file.Micro == kMicroG ? kMicroGigaDevice : kMicroStOnly;
}

}  // namespace tarvex
