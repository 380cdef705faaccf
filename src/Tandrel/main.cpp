// Tandrel: the device back-end. The whole command line is one JSON text of start parameters.
#include <malloc.h>

#include <cstdlib>
#include <string>

#include "Tandrel/kor_app.h"

int main(int argc, char** argv) {
  // Where Tandrel runs on glibc's allocator (sanitizer builds, or no tcmalloc at build time; with
  // tcmalloc these calls do nothing), freed heap is kept for the next command instead of going
  // back to the system after each one:
  // a listing builds megabytes of small records, and every page handed back faults in again the
  // next time. These are the bounds the allocator's own adjustment reaches once large blocks have
  // been freed, fixed from the start.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
  std::string command_line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) command_line.push_back(' ');
    command_line += argv[i];
  }
  int code = KorRunApplication(command_line);
  // Worker and channel threads may still be blocked in device calls; end without unwinding them.
  std::_Exit(code);
}
