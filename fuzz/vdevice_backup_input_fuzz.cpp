// What the simulated phone's backup service reads from a computer: the raw file framing of the
// files a restore asks for, and the key bag of a backup's Manifest.plist. The first byte picks
// which; the rest is the computer's bytes.
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "backup_file_framing.h"
#include "backup_manifest.h"

namespace {

constexpr size_t kMaxInput = 1 << 20;

class CountingSink : public vdevice::HostFileSink {
 public:
  void Begin(const std::string& path) override {
    if (path.size() > vdevice::kMaxFramedNameBytes) std::abort();
    open_ = true;
  }
  void Data(const char*, size_t length) override {
    if (!open_ || length > vdevice::kUploadBlockBytes) std::abort();
  }
  void End(bool, const std::string& error_text) override {
    if (!open_ || error_text.size() > 8192) std::abort();
    open_ = false;
  }

 private:
  bool open_ = false;
};

void ReadFraming(const uint8_t* data, size_t size) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return;
  kst::KstSocket device(fds[0]);
  kst::KstSocket computer(fds[1]);
  std::thread sender([&] {
    computer.SendAll(data, size);
    computer.Shutdown();
  });
  vdevice::ServiceStream stream(device, "com.apple.mobilebackup2", nullptr, nullptr);
  CountingSink sink;
  vdevice::ReceiveFileList(stream, sink);
  device.Shutdown();
  sender.join();
}

void CheckKeyBag(const uint8_t* data, size_t size) {
  vdevice::PlistPtr manifest = vdevice::MakeDict();
  vdevice::SetBool(manifest.get(), "IsEncrypted", true);
  vdevice::SetData(manifest.get(), "BackupKeyBag", std::string(reinterpret_cast<const char*>(data), size));
  vdevice::PasswordOpensManifest(manifest.get(), "password");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > kMaxInput) return 0;
  if (data[0] & 1) {
    CheckKeyBag(data + 1, size - 1);
  } else {
    ReadFraming(data + 1, size - 1);
  }
  return 0;
}
