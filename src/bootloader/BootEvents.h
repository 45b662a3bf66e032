// The events of message 1124 (TaskDoneMsg): wParam is the boot loader command a reply belongs to,
// lParam how far that command has come. Posted by the reply handling, read by the flash sequence.
#pragma once

#include <cstdint>

namespace tarvex {

// lParam, for every command: its first frame was acknowledged (for the sync: it was answered).
inline constexpr std::uint8_t kEvCmdAck = 0;
// ERASE: a page was erased; every page was.
inline constexpr std::uint8_t kEvPageErased = 1;
inline constexpr std::uint8_t kEvAllErased = 2;
// WRITE and READ: the block's address was acknowledged; the block is done; every block is.
inline constexpr std::uint8_t kEvAddressAck = 1;
inline constexpr std::uint8_t kEvBlockDone = 2;
inline constexpr std::uint8_t kEvAllBlocksDone = 3;
// GO: the new firmware runs.
inline constexpr std::uint8_t kEvGoRunning = 1;
// wParam of a sync answered with neither ACK nor NACK (lParam: the sync byte).
inline constexpr std::uint8_t kInvalidSyncReply = 0xFF;

}  // namespace tarvex
