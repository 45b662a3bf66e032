// Whether a firmware file may be written into the connected product, and what the installer is
// told about it.
#pragma once

#include <string>

#include "core/Globals.h"

namespace tarvex {

inline constexpr const char* kMsgErrorReadingFile = "Error reading file";
// A file that loads but stores nothing: there would be no page to erase or write.
inline constexpr const char* kMsgNoFirmwareData =
    "The Hex File holds no firmware data. Please open the correct file";
inline constexpr const char* kMsgWrongMicro =
    "The Hex File cannot be used with the product that you are connected with. Please open the correct "
    "file";
inline constexpr const char* kMsgKeypadMicro =
    "You cannot use a GK-900 Hex file with the GK-450 Glass Keypad. Please open the correct file";
inline constexpr const char* kMsgWrongProduct =
    "The Hex File product type does not match the product that you are connected with";
inline constexpr const char* kMsgNoVersion109 =
    "You cannot flash the product to version 1.09 or 1.10. Please select another file";
inline constexpr const char* kMicroGigaDevice = "ST Microelectronics or GigaDevice";
inline constexpr const char* kMicroStOnly = "ST Microelectronics Only";

struct TFileVerdict {
  bool Accepted = false;
  std::string Error;    // the refusal's text; empty when accepted
  std::string Warning;  // a warning shown on acceptance; empty when none is due
};

// Applies the acceptance rules in order; the first refusal decides.
TFileVerdict JudgeFile(const TProductInfo& product, const TProductInfo& file);

// "ST Microelectronics or GigaDevice" for a 'G' file, else "ST Microelectronics Only".
std::string FileMicroText(const TProductInfo& file);

}  // namespace tarvex
