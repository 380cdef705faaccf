// Bytes from a device as the replies to a batch of pipelined file-information requests, through
// KorAFCFileInfoOpenBatch. The target loads the MobileDevice library by path, as the host does, and
// speaks to it over a socket pair whose far end holds the fuzzer's bytes and then ends, so every
// reply may be cut short, out of order, oversized or of the wrong kind. Whatever is answered is
// read back through the key/value calls.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <dlfcn.h>

#include "devicefw/device_framework_abi.h"

namespace {

struct MobileDevice {
  AFCConnectionOpenFn open;
  AFCConnectionCloseFn close;
  KorAFCFileInfoOpenBatchFn batch;
  AFCKeyValueReadFn read;
  AFCKeyValueCloseFn close_info;
};

MobileDevice Load() {
  const std::string path = std::string(DEVICEFW_LIB_DIR) + "/libMobileDevice.so";
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
    std::abort();
  }
  MobileDevice md{reinterpret_cast<AFCConnectionOpenFn>(dlsym(library, "AFCConnectionOpen")),
                  reinterpret_cast<AFCConnectionCloseFn>(dlsym(library, "AFCConnectionClose")),
                  reinterpret_cast<KorAFCFileInfoOpenBatchFn>(dlsym(library, KOR_AFC_FILE_INFO_OPEN_BATCH_SYMBOL)),
                  reinterpret_cast<AFCKeyValueReadFn>(dlsym(library, "AFCKeyValueRead")),
                  reinterpret_cast<AFCKeyValueCloseFn>(dlsym(library, "AFCKeyValueClose"))};
  if (!md.open || !md.close || !md.batch || !md.read || !md.close_info) std::abort();
  return md;
}

// Small enough that the bytes and the requests both fit the socket buffers, so nothing waits.
constexpr size_t kMaxInput = 48 << 10;
// More paths than one window, so that the batch sends and reads in several rounds.
constexpr size_t kPaths = 150;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t length) {
  static const MobileDevice md = Load();
  if (length > kMaxInput) return 0;
  int sockets[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sockets) != 0) return 0;
  if (length > 0 && send(sockets[1], bytes, length, MSG_NOSIGNAL) != static_cast<ssize_t>(length)) std::abort();
  shutdown(sockets[1], SHUT_WR);
  AFCConnectionRef afc = nullptr;
  if (md.open(sockets[0], 0, &afc) == kAFCSuccess) {
    std::vector<const char*> paths(kPaths, "/iTunes_Control/Music/F00/ABCD.mp3");
    std::vector<AFCDictionaryRef> infos(kPaths, nullptr);
    std::vector<afc_error_t> results(kPaths, 0);
    md.batch(afc, paths.data(), paths.size(), infos.data(), results.data());
    for (AFCDictionaryRef info : infos) {
      char* key = nullptr;
      char* value = nullptr;
      while (info != nullptr && md.read(info, &key, &value) == kAFCSuccess && key != nullptr) {
      }
      if (info != nullptr) md.close_info(info);
    }
    md.close(afc);
  }
  close(sockets[0]);
  close(sockets[1]);
  return 0;
}
