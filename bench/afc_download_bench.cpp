// Downloads a 256 MiB device file through Tandrel's AFC helper (KorAfcDownload, in this process,
// with the device monitor and the shared AFC service exactly as the modules get them) beside
// libimobiledevice's own AFC client reading the same file from the same simulated iPhone in the
// same run, once into memory and once into a local file; prints MB/s of both and their ratio.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "bench_support.h"
#include "device_monitor_fixture.h"
#include "iOSAPI/kor_afc.h"
#include "platform/kst_fs.h"
#include "platform/kst_process.h"
#include "utility/ios/kor_device_monitor.h"

namespace {

using bench::Transfer;
using namespace std::chrono_literals;

constexpr int kRounds = 3;
constexpr double kTargetRatio = 0.9;

// Brings up this process's device layer against the served device and takes the AFC service the
// modules share.
std::shared_ptr<KorDeviceService> OpenTandrelAfc() {
  std::shared_ptr<KorDevice> device = StartDeviceMonitorInProcess(BENCH_REGISTRY_FILE, 30s);
  if (!device) return nullptr;
  int result = 0;
  return KorDeviceHandles::Get().GetService(device->Device(), &result, kKorAfcService, nullptr, true);
}

Transfer TandrelToMemory(AFCConnectionRef afc) {
  Transfer transfer;
  std::string out;  // fresh each run, as a caller hands it in
  bench::Clock::time_point start = bench::Clock::now();
  transfer.ok = KorAfcDownload(afc, bench::kLargeFileDevicePath, "", &out);
  transfer.seconds = bench::SecondsSince(start);
  transfer.bytes = out.size();
  transfer.checksum = bench::ChecksumOf(out.data(), out.size());
  return transfer;
}

Transfer TandrelToFile(AFCConnectionRef afc, const std::string& local_path) {
  Transfer transfer;
  bench::Clock::time_point start = bench::Clock::now();
  transfer.ok = KorAfcDownload(afc, bench::kLargeFileDevicePath, local_path, nullptr);
  transfer.seconds = bench::SecondsSince(start);
  transfer.bytes = static_cast<uint64_t>(kst::FileSize(local_path));
  transfer.checksum = bench::ChecksumOfFile(local_path);
  std::remove(local_path.c_str());
  return transfer;
}

void PrintRow(const char* destination, const Transfer& tandrel, const Transfer& reference) {
  double ours = bench::MegabytesPerSecond(tandrel);
  double theirs = bench::MegabytesPerSecond(reference);
  double ratio = theirs > 0 ? ours / theirs : 0.0;
  std::printf("%-12s %14.1f %22.1f %8.3f  %s\n", destination, ours, theirs, ratio,
              ratio >= kTargetRatio ? "ok" : "BELOW TARGET");
}

int Run() {
  bench::LargeFileDevice device;
  if (!device.Start()) return 1;
  std::shared_ptr<KorDeviceService> service = OpenTandrelAfc();
  bench::ReferenceAfcReader reference;
  if (!service || !service->Afc() || !reference.Open(device.Udid())) {
    std::fprintf(stderr, "cannot open AFC (Tandrel %s)\n%s", service ? "ok" : "failed",
                 device.Fixture().ServerLog().c_str());
    return 1;
  }
  AFCConnectionRef afc = service->Afc();
  const std::string local_path = device.ScratchPath("download.bin");
  const std::string device_path = bench::kLargeFileDevicePath;
  // Files first: the memory runs free 256 MiB and more each, which disturbs what follows them.
  std::vector<Transfer> to_file = bench::BestOfRounds(
      kRounds, {[&] { return TandrelToFile(afc, local_path); },
                [&] { return reference.ReadToFile(device_path, local_path); }});
  std::vector<Transfer> to_memory = bench::BestOfRounds(
      kRounds, {[&] { return TandrelToMemory(afc); }, [&] { return reference.ReadToMemory(device_path); }});
  if (!device.AllDelivered(to_file) || !device.AllDelivered(to_memory)) return 1;
  std::printf("afc_download_bench: 256 MiB device file from vdevice, best of %d, reference reads of %u KiB\n",
              kRounds, bench::kReferenceReadBytes >> 10);
  std::printf("%-12s %14s %22s %8s\n", "destination", "Tandrel MB/s", "libimobiledevice MB/s", "ratio");
  PrintRow("local file", to_file[0], to_file[1]);
  PrintRow("memory", to_memory[0], to_memory[1]);
  std::printf("ratio = Tandrel (KorAfcDownload) / libimobiledevice (afc_file_read), target >= %.1f\n", kTargetRatio);
  return 0;
}

}  // namespace

int main() {
  int code = Run();
  std::fflush(stdout);
  // The device monitor's threads keep running; leave without tearing down what they use.
  std::_Exit(code);
}
