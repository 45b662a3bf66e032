// The product link's secret codes: the two access codes and the boot loader entry code. The
// program and the product emulator share these; the plain codes never stand in the source, only
// their cipher texts and keys.
#pragma once

#include <cstdint>
#include <string>

#include "core/Globals.h"

namespace tarvex {

// Deciphers a stored code: hexadecimal text (pairs of digits), each byte XORed with the high byte
// of a running 16-bit key. Empty when a pair is not hexadecimal.
std::string DescrambleCode(const std::string& cipherText, std::uint16_t key);

ByteString FirstAccessCode();      // 4 bytes
ByteString SecondAccessCode();     // 10 bytes
ByteString BootloaderEntryCode();  // 2 bytes

}  // namespace tarvex
