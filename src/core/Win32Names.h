// Names the program shares with the Windows API: line escapes, comm events, DTR and RTS control,
// stop bits, the quit message, the common application data folder. On Windows they are the
// system's own (its header defines them as macros); elsewhere the program defines the same values,
// so every file can use them by the same names.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// The shell's folder numbers (CSIDL_*).
#include <shlobj.h>
#else
#include <cstdint>

namespace tarvex {

// Line escape functions.
inline constexpr int SETRTS = 3;
inline constexpr int CLRRTS = 4;
inline constexpr int SETDTR = 5;
inline constexpr int CLRDTR = 6;

// Device event bits.
inline constexpr std::uint32_t EV_BREAK = 0x40;
inline constexpr std::uint32_t EV_ERR = 0x80;
inline constexpr std::uint32_t EV_RING = 0x100;

// DTR and RTS control, stop bits.
inline constexpr std::uint8_t DTR_CONTROL_DISABLE = 0;
inline constexpr std::uint8_t DTR_CONTROL_ENABLE = 1;
inline constexpr std::uint8_t DTR_CONTROL_HANDSHAKE = 2;
inline constexpr std::uint8_t RTS_CONTROL_DISABLE = 0;
inline constexpr std::uint8_t RTS_CONTROL_ENABLE = 1;
inline constexpr std::uint8_t RTS_CONTROL_HANDSHAKE = 2;
inline constexpr std::uint8_t ONESTOPBIT = 0;
inline constexpr std::uint8_t ONE5STOPBITS = 1;
inline constexpr std::uint8_t TWOSTOPBITS = 2;

// The message that ends a message loop.
inline constexpr int WM_QUIT = 18;

// The shell's common application data folder.
inline constexpr int CSIDL_COMMON_APPDATA = 35;

}  // namespace tarvex
#endif
