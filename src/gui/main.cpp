#include "gui/Program.h"

int main(int argc, char** argv) {
  return tarvex::RunDesktopProgram(argc, argv);
}
