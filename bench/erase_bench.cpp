// Free-space erase (command 1701, level 1) through a running Tandrel on a device that reports
// 4 GiB free, beside the baseline: libimobiledevice's AFC client writing the same files of
// zeros (512 MiB each, in 8 MiB writes) into /iostemp and removing them. The simulated device
// stores those zeros sparse, so both measure the link and the two clients, not a disk.
#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_frontend.h"
#include "bench_support.h"

namespace {

using namespace std::chrono_literals;

constexpr int64_t kFreeBytes = 4ll << 30;
constexpr uint32_t kChunkBytes = 8u << 20;
constexpr uint32_t kChunksPerFile = 64;
constexpr int kRounds = 3;

bench::Transfer TandrelFill(frontend::Link& link, const std::string& udid, int64_t code) {
  bench::Transfer transfer;
  uint64_t task = bench::NextTaskId();
  bench::Clock::time_point start = bench::Clock::now();
  std::string parameters = frontend::CompressAttachment(R"({"level":1})");
  if (!link.Send(1701, task, frontend::DeviceCommandJson(udid, code), parameters)) return transfer;
  std::vector<frontend::Message> replies = link.CollectUntilFinal(task, 600s);
  transfer.seconds = bench::SecondsSince(start);
  transfer.ok = !replies.empty() && replies.back().status == 1 && replies.back().code == 0;
  transfer.bytes = static_cast<uint64_t>(kFreeBytes);
  return transfer;
}

// The same files written with libimobiledevice's AFC calls, then removed with the folder.
bench::Transfer ReferenceFill(afc_client_t afc) {
  bench::Transfer transfer;
  std::vector<char> zeros(kChunkBytes, 0);
  bench::Clock::time_point start = bench::Clock::now();
  if (afc_make_directory(afc, "/iostemp") != AFC_E_SUCCESS) return transfer;
  bool ok = true;
  for (int file = 1; ok && transfer.bytes < static_cast<uint64_t>(kFreeBytes); ++file) {
    uint64_t handle = 0;
    std::string path = "/iostemp/reference-" + std::to_string(file);
    ok = afc_file_open(afc, path.c_str(), AFC_FOPEN_WRONLY, &handle) == AFC_E_SUCCESS;
    for (uint32_t chunk = 0; ok && chunk < kChunksPerFile; ++chunk) {
      uint32_t written = 0;
      ok = afc_file_write(afc, handle, zeros.data(), kChunkBytes, &written) == AFC_E_SUCCESS && written == kChunkBytes;
    }
    if (handle) afc_file_close(afc, handle);
    transfer.bytes += static_cast<uint64_t>(kChunksPerFile) * kChunkBytes;
  }
  ok = ok && afc_remove_path_and_contents(afc, "/iostemp") == AFC_E_SUCCESS;
  transfer.seconds = bench::SecondsSince(start);
  transfer.ok = ok;
  return transfer;
}

int Run() {
  vdevice_test::VdeviceFixture vd;
  std::string profile = vd.MakeProfile("demo");
  bool edited = !profile.empty() && vdevice_test::VdeviceFixture::EditDeviceJson(profile, [](rapidjson::Document& json) {
    json["lockdown"]["com.apple.disk_usage"]["TotalDataAvailable"].SetInt64(kFreeBytes);
  });
  if (!edited) {
    std::fprintf(stderr, "cannot generate the profile\n");
    return 1;
  }
  bench::ReadyDevice served;
  std::unique_ptr<harness::Tandrel> tandrel = bench::ServeAndStartTandrel(vd, profile, &served);
  if (!tandrel) return 1;
  const std::string& udid = served.udid;
  idevice_t device = nullptr;
  afc_client_t afc = nullptr;
  if (idevice_new(&device, udid.c_str()) != IDEVICE_E_SUCCESS ||
      afc_client_start_service(device, &afc, "erase_bench") != AFC_E_SUCCESS) {
    std::fprintf(stderr, "libimobiledevice cannot reach the device\n");
    return 1;
  }
  int64_t code = served.code;
  std::vector<bench::Transfer> best = bench::BestOfRounds(
      kRounds, {[&] { return TandrelFill(tandrel->Link(), udid, code); }, [&] { return ReferenceFill(afc); }});
  afc_client_free(afc);
  idevice_free(device);
  if (!best[0].ok || !best[1].ok) {
    std::fprintf(stderr, "a fill failed (Tandrel %d, reference %d)\n%s", best[0].ok, best[1].ok,
                 vd.ServerLog().c_str());
    return 1;
  }
  std::printf("erase_bench: 4 GiB of zeros in 512 MiB files of 8 MiB writes, best of %d rounds\n", kRounds);
  std::printf("%-44s %9s %9s %7s\n", "path", "seconds", "MB/s", "ratio");
  std::printf("%-44s %9.2f %9.0f %7.3f\n", "libimobiledevice AFC writes (baseline)", best[1].seconds,
              bench::MegabytesPerSecond(best[1]), 1.0);
  std::printf("%-44s %9.2f %9.0f %7.3f\n", "Tandrel 1701 level 1", best[0].seconds, bench::MegabytesPerSecond(best[0]),
              best[1].seconds / best[0].seconds);
  std::printf("ratio = baseline seconds / seconds (above 1: faster than the baseline)\n");
  return 0;
}

}  // namespace

int main() {
  int code = Run();
  std::fflush(stdout);
  return code;
}
