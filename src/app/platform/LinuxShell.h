// The shell on Linux: files and addresses go to xdg-open.
#pragma once

#include "core/Platform.h"

namespace tarvex {

class XdgShell : public IShell {
 public:
  void Open(const std::string& target) override;
};

}  // namespace tarvex
