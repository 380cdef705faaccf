// The staged download (command 702) of a 256 MiB device file through a running Tandrel into a
// local file, driven block by block as tandrelctl pull drives it, beside libimobiledevice's own
// AFC client reading the same file from the same simulated iPhone into a local file in the same
// run; prints MB/s of both, their ratio and the CPU time each process spent. Two tables: the
// simulated device at memory speed (this computer's processors set the pace, and the extra
// loopback hop to the front-end costs processor time the reference does not spend), and the
// device's AFC replies paced to a USB 3 link's speed (the device sets the pace, as a phone does).
#include <rapidjson/document.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "bench_frontend.h"
#include "bench_support.h"
#include "frontend_message.h"
#include "frontend_staged_download.h"

namespace {

using bench::LocalFile;
using bench::Transfer;
using namespace std::chrono_literals;

constexpr int kRounds = 3;
constexpr double kTargetRatio = 0.9;
constexpr auto kReplyTimeout = 60s;
// The staged download's blocks are 2 MiB; the reference also reads in pieces of that size on a
// row of its own, to tell the cost of the smaller piece from the cost of the link.
constexpr uint32_t kBlockSizedReadBytes = 2u << 20;
// A USB 3 link's pace for AFC data, for the second table: there the device, not this computer's
// processors, sets the speed, as it does with a real phone.
constexpr uint64_t kLinkMegabytesPerSecond = 400;
// Every path writes over the same local file, so that all of them write into pages already there.
constexpr bench::LocalTarget kTarget = bench::LocalTarget::kOverwrite;

// One staged download on the link of a running Tandrel, driven as tandrelctl pull drives it.
class StagedDownload {
 public:
  StagedDownload(frontend::Link& link, std::string udid, int64_t code, bench::CpuMeter* meter)
      : link_(link), udid_(std::move(udid)), code_(code), meter_(meter) {}

  Transfer Run(const std::string& device_path, const std::string& local_path) {
    Transfer transfer;
    {
      meter_->Start();
      bench::Clock::time_point start = bench::Clock::now();
      LocalFile out = bench::OpenLocalTarget(local_path, kTarget);
      if (!out) return transfer;
      frontend::DownloadRequest request;
      request.task = bench::NextTaskId();
      request.device_path = device_path;
      request.command_json = [this](const std::string& members) {
        return frontend::DeviceCommandJson(udid_, code_, members);
      };
      request.timeout = kReplyTimeout;
      frontend::DownloadReport report = frontend::RunStagedDownload(link_, request, out.get());
      out.reset();
      transfer.seconds = bench::SecondsSince(start);
      transfer.cpu = meter_->Stop();
      transfer.bytes = report.bytes;
      transfer.ok = report.outcome == frontend::DownloadOutcome::kDone;
      if (!transfer.ok) std::fprintf(stderr, "702 download failed (code %lld)\n", static_cast<long long>(report.code));
    }
    bench::FinishLocalTarget(local_path, kTarget, &transfer);
    return transfer;
  }

 private:
  frontend::Link& link_;
  std::string udid_;
  int64_t code_;
  bench::CpuMeter* meter_;
};

void PrintHeader(const char* title) {
  std::printf("\n%-44s %9s %9s  %8s  %20s\n", title, "", "", "", "CPU ms while it ran");
  std::printf("%-44s %9s %9s  %8s  %6s %6s %6s\n", "path", "MB/s", "seconds", "ratio", "client", "Tandrl", "device");
}

void PrintRow(const char* path, const Transfer& transfer, const Transfer& baseline) {
  double rate = bench::MegabytesPerSecond(transfer);
  double base = bench::MegabytesPerSecond(baseline);
  const bench::CpuUse& cpu = transfer.cpu;
  std::printf("%-44s %9.1f %9.3f  %8.3f  %6.0f %6.0f %6.0f\n", path, rate, transfer.seconds,
              base > 0 ? rate / base : 0.0, cpu.front_end * 1000, cpu.host * 1000, cpu.device * 1000);
}

int Run() {
  bench::LargeFileDevice device;
  if (!device.Start()) return 1;
  std::unique_ptr<harness::Tandrel> tandrel = bench::StartTandrelFor(device.Fixture());
  if (!tandrel) return 1;
  auto ready = bench::WaitForReadyDevices(tandrel->Link(), 1, 30s);
  bench::ReferenceAfcReader reference;
  if (ready.count(device.Udid()) == 0 || !reference.Open(device.Udid())) {
    std::fprintf(stderr, "the device did not become ready or AFC did not open\n%s",
                 device.Fixture().ServerLog().c_str());
    return 1;
  }
  bench::CpuMeter meter(tandrel->Link().TandrelPid(), device.Fixture().pid());
  StagedDownload staged(tandrel->Link(), device.Udid(), ready[device.Udid()], &meter);
  const std::string local_path = device.ScratchPath("download.bin");
  const std::string device_path = bench::kLargeFileDevicePath;
  auto staged_path = [&] { return staged.Run(device_path, local_path); };
  auto reference_path = [&](uint32_t piece_bytes) {
    return [&, piece_bytes] { return reference.ReadToFile(device_path, local_path, piece_bytes, kTarget, &meter); };
  };

  std::vector<Transfer> best = bench::BestOfRounds(
      kRounds, {staged_path, reference_path(bench::kReferenceReadBytes), reference_path(kBlockSizedReadBytes)});
  if (!device.AllDelivered(best)) return 1;
  std::printf("staged_download_bench: 256 MiB device file from vdevice into a local file, best of %d\n", kRounds);
  PrintHeader("device at memory speed");
  PrintRow("Tandrel 702 staged download (2 MiB blocks)", best[0], best[1]);
  PrintRow("libimobiledevice afc_file_read, 4 MiB reads", best[1], best[1]);
  PrintRow("libimobiledevice afc_file_read, 2 MiB reads", best[2], best[1]);
  double ratio = bench::MegabytesPerSecond(best[0]) / bench::MegabytesPerSecond(best[1]);
  std::printf("ratio = MB/s / libimobiledevice with 4 MiB reads; Tandrel 702: %.3f (target >= %.1f) %s\n", ratio,
              kTargetRatio, ratio >= kTargetRatio ? "ok" : "BELOW TARGET");

  // The same with the device sending no faster than a USB 3 link carries AFC data.
  if (!device.Fixture().Fault(device.Udid(), "com.apple.afc", {"pace", std::to_string(kLinkMegabytesPerSecond), "always"})) {
    std::fprintf(stderr, "the device's AFC service could not be paced\n");
    return 1;
  }
  std::vector<Transfer> paced =
      bench::BestOfRounds(kRounds, {staged_path, reference_path(bench::kReferenceReadBytes)});
  if (!device.AllDelivered(paced)) return 1;
  PrintHeader(("device link paced to " + std::to_string(kLinkMegabytesPerSecond) + " MB/s").c_str());
  PrintRow("Tandrel 702 staged download (2 MiB blocks)", paced[0], paced[1]);
  PrintRow("libimobiledevice afc_file_read, 4 MiB reads", paced[1], paced[1]);
  double paced_ratio = bench::MegabytesPerSecond(paced[0]) / bench::MegabytesPerSecond(paced[1]);
  std::printf("ratio with the paced link; Tandrel 702: %.3f (target >= %.1f) %s\n", paced_ratio, kTargetRatio,
              paced_ratio >= kTargetRatio ? "ok" : "BELOW TARGET");
  return 0;
}

}  // namespace

int main() {
  int code = Run();
  std::fflush(stdout);
  return code;
}
