// Byte strings written as lists of numbers: B({0x79, 0x1F}).
#pragma once

#include <initializer_list>

#include "core/Globals.h"

namespace tarvex::test {

inline ByteString B(std::initializer_list<int> bytes) {
  ByteString s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

}  // namespace tarvex::test
