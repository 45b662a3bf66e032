// The demonstration's firmware file: an Intel HEX image for the product the emulator plays when
// started without product options, one version newer than the one it reports, so a newcomer can
// run a whole update with no hardware.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/Globals.h"

namespace tarvex::samplefw {

inline constexpr const char* kSampleFileName = "Tarvex Demo Firmware.hex";

struct TSampleRecipe {
  std::uint8_t ProductCode = 0;
  std::uint8_t Variant = 0;
  std::uint8_t Major = 0;
  std::uint8_t Minor = 0;
  bool GigaDevice = true;        // carry the "GD" mark
  std::uint32_t Bytes = 0;       // image length from the flash base
  std::uint32_t IdentityAt = 0;  // offset of the identity block
};

// The emulator's default product, a version one major step up, and an image of a few dozen pages
// (ending part-way into its last page, as a linker leaves it). At 115200 baud an update of it takes
// a few tens of seconds.
TSampleRecipe DefaultRecipe();

// The identity of the product the emulator plays by default, as the programmer reads it.
TProductInfo EmulatedProduct();

// The image's HEX text: 16-byte data records, an extended linear address record at every 64 KB,
// an end-of-file record, CR LF line ends. The same recipe always gives the same text.
std::string MakeSampleHex(const TSampleRecipe& recipe);

// Loads the text into the file image and judges it against the product as the programmer does
// when the file is opened. Nothing when accepted, else why not. Resizes the global images.
std::optional<std::string> CheckAgainst(const std::string& hex, const TProductInfo& product);

}  // namespace tarvex::samplefw
