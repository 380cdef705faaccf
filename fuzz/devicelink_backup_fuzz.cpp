// The backup run loop with the fuzzer as the device: every DeviceLink message it sends is decoded
// and handled (disk work included, inside a scratch backup folder), uploaded files arrive in the
// raw framing, and the answers go nowhere. Anything written outside the folder is a fault.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "fuzz_stream_io.h"
#include "iOSAPI/mobile_export_fun.h"
#include "utility/module/itunes/kor_backup_transfer.h"

namespace {

struct Sandbox {
  std::filesystem::path base;
  Sandbox() {
    base = std::filesystem::temp_directory_path() / ("devicelink_fuzz_" + std::to_string(getpid()));
    std::filesystem::create_directories(base / "root");
  }
  ~Sandbox() { std::filesystem::remove_all(base); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool framework = CMobileExportFun::GetInstance().Init();
  static Sandbox sandbox;
  if (!framework) return 0;
  size_t offset = 0;
  KorServiceIo io = FuzzStreamIo(data, size, &offset);
  KorBackupPaths paths((sandbox.base / "root").string(), "UDID", "-1");
  std::filesystem::create_directories(paths.Folder());
  KorBackupTransfer transfer(io, paths, KorBackupHooks());
  transfer.RunBackup();
  std::filesystem::remove_all(paths.Folder());
  // Nothing may appear beside the backup folder.
  if (!std::filesystem::is_empty(sandbox.base / "root") ||
      std::distance(std::filesystem::directory_iterator(sandbox.base), std::filesystem::directory_iterator()) != 1) {
    std::abort();
  }
  return 0;
}
