// The flash sequence: Start, the manual step buttons and the task-done dispatch.
#include "app/Main.h"

namespace tarvex {

void TfrmMain::btnStartClick() {}

void TfrmMain::btnSelFlashClick(int /*tag*/) {}

void TfrmMain::TaskDoneMsg(std::uint8_t /*wParam*/, std::uint8_t /*lParam*/) {}

}  // namespace tarvex
