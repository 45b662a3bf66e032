// Erase, write, verify and run: the four boot loader operations of an update.
#include "app/Main.h"

namespace tarvex {

void TfrmMain::StartErase() {}
void TfrmMain::StartWrite() {}
void TfrmMain::StartVerify() {}
void TfrmMain::StartRun() {}
bool TfrmMain::VerifyImages() { return false; }
void TfrmMain::WriteVerifyReport() {}

}  // namespace tarvex
