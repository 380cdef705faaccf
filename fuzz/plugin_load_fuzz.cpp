// "plugin.load" files come with plug-ins from outside: their parsing, including the confinement
// of the library path to its version folder.
#include <cstddef>
#include <cstdint>
#include <string>

#include "basic/plugin_load_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ParsePluginLoad(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
