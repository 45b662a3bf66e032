// Whether the product's flash holds the file image on every page the file uses.
#pragma once

#include "core/Globals.h"

namespace tarvex::test {

inline bool FlashMatchesFile(const ByteString& flash) {
  for (std::uint32_t p = 0; p < FileMemory.size(); ++p) {
    if (FileMemory[p].InUse &&
        flash.compare(p * kPageSize, kPageSize, reinterpret_cast<const char*>(FileMemory[p].Data),
                      kPageSize) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace tarvex::test
