#include "serial/MessagePump.h"

#include <stdexcept>

#include "core/Globals.h"

namespace tarvex {

void IMessagePump::RunMessage(const TMessageHandler& message) const {
  const auto report = [this](const std::exception& e) {
    if (!errorReport_) {
      LogDebug(e.what());
      return;
    }
    try {
      errorReport_(e);
    } catch (const std::exception& again) {
      LogDebug(again.what());
    }
  };
  try {
    message();
  } catch (const std::exception& e) {
    report(e);
  } catch (...) {
    report(std::runtime_error("An unexpected error occurred"));
  }
}

}  // namespace tarvex
