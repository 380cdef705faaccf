// Property-list bytes from a device, through CFPropertyListCreateWithData (binary and XML). The
// target loads the CoreFoundation library by path, as the host does, so it fuzzes exactly what
// ships. Whatever parses is also serialised again, exercising the conversion back to libplist.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <dlfcn.h>

#include "devicefw/device_framework_abi.h"

namespace {

struct CoreFoundation {
  CFDataCreateFn data_create;
  CFPropertyListCreateWithDataFn create_with_data;
  CFPropertyListCreateXMLDataFn create_xml_data;
  CFReleaseFn release;
};

CoreFoundation Load() {
  const std::string path = std::string(DEVICEFW_LIB_DIR) + "/libCoreFoundation.so";
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
    std::abort();
  }
  CoreFoundation cf{reinterpret_cast<CFDataCreateFn>(dlsym(library, "CFDataCreate")),
                    reinterpret_cast<CFPropertyListCreateWithDataFn>(dlsym(library, "CFPropertyListCreateWithData")),
                    reinterpret_cast<CFPropertyListCreateXMLDataFn>(dlsym(library, "CFPropertyListCreateXMLData")),
                    reinterpret_cast<CFReleaseFn>(dlsym(library, "CFRelease"))};
  if (!cf.data_create || !cf.create_with_data || !cf.create_xml_data || !cf.release) std::abort();
  return cf;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t length) {
  static const CoreFoundation cf = Load();
  CFDataRef data = cf.data_create(nullptr, bytes, static_cast<CFIndex>(length));
  if (data == nullptr) return 0;
  CFPropertyListFormat format = 0;
  CFPropertyListRef parsed = cf.create_with_data(nullptr, data, kCFPropertyListImmutable, &format, nullptr);
  if (parsed != nullptr) {
    if (CFDataRef xml = cf.create_xml_data(nullptr, parsed)) cf.release(xml);
    cf.release(parsed);
  }
  cf.release(data);
  return 0;
}
