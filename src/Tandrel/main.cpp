// Tandrel: the device back-end. The whole command line is one JSON text of start parameters.
#include <cstdlib>
#include <string>

#include "Tandrel/kor_app.h"

int main(int argc, char** argv) {
  std::string command_line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) command_line.push_back(' ');
    command_line += argv[i];
  }
  int code = KorRunApplication(command_line);
  // Worker and channel threads may still be blocked in device calls; end without unwinding them.
  std::_Exit(code);
}
