// The staged download (command 702) of a 256 MiB device file through a running Tandrel into a
// local file, driven block by block as tandrelctl pull drives it, beside libimobiledevice's own
// AFC client reading the same file from the same simulated iPhone into a local file in the same
// run; prints MB/s of both and their ratio.
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
#include "frontend_file_blocks.h"
#include "frontend_message.h"
#include "platform/vel_json_util.h"

namespace {

using bench::LocalFile;
using bench::Transfer;
using namespace std::chrono_literals;

constexpr uint32_t kStagedDownload = 702;
constexpr int kRounds = 3;
constexpr double kTargetRatio = 0.9;
constexpr auto kReplyTimeout = 60s;
// The staged download's blocks are 2 MiB; the reference also reads in pieces of that size on a
// row of its own, to tell the cost of the smaller piece from the cost of the link.
constexpr uint32_t kBlockSizedReadBytes = 2u << 20;

using Block = frontend::FileBlock;

// One staged download on the link of a running Tandrel.
class StagedDownload {
 public:
  StagedDownload(frontend::Link& link, std::string udid, int64_t code)
      : link_(link), udid_(std::move(udid)), code_(code) {}

  Transfer Run(const std::string& device_path, const std::string& local_path) {
    Transfer transfer;
    {
      bench::Clock::time_point start = bench::Clock::now();
      task_ = bench::NextTaskId();
      rapidjson::Document description;
      LocalFile out(std::fopen(local_path.c_str(), "wb"));
      if (!out || !Open(device_path, &description)) return transfer;
      // The next block is asked for before this one is written, so that Tandrel and the
      // front-end work at the same time.
      auto plan = frontend::FileBlockPlan(description);
      if (!plan.empty() && !Request(plan.begin()->second)) return transfer;
      for (auto it = plan.begin(); it != plan.end(); ++it) {
        auto next = std::next(it);
        if (!ReceiveBlock(it->second, next == plan.end() ? nullptr : &next->second, out.get(), &transfer.bytes)) {
          return transfer;
        }
      }
      transfer.ok = AwaitSuccess();
      out.reset();
      transfer.seconds = bench::SecondsSince(start);
    }
    transfer.checksum = bench::ChecksumOfFile(local_path);
    std::remove(local_path.c_str());
    return transfer;
  }

 private:
  std::optional<frontend::Message> NextReply() { return link_.NextFor(task_, kReplyTimeout); }

  bool Send(const std::string& stage_json, const std::string& parameters) {
    return link_.Send(kStagedDownload, task_, bench::DeviceCommandJson(udid_, code_, stage_json),
                      frontend::CompressAttachment(parameters));
  }

  // Stage 1: names the device file; the reply carries its description and block plan.
  bool Open(const std::string& device_path, rapidjson::Document* description) {
    rapidjson::Document open(rapidjson::kObjectType);
    VelJsonUtil::AddJsonDictStringValue(open, open.GetAllocator(), "path", device_path);
    if (!Send(R"("stage":1,"code":0)", VelJsonUtil::ToString(open))) return false;
    auto opened = NextReply();
    if (!opened || frontend::IsFinalStatus(opened->status)) {
      std::fprintf(stderr, "702 open failed (code %lld)\n", opened ? static_cast<long long>(opened->code) : -1LL);
      return false;
    }
    return opened->info && VelJsonUtil::Parse(*opened->info, description);
  }

  // Stage 2: asks for one block.
  bool Request(const Block& block) { return Send(R"("stage":2,"code":0)", frontend::FileBlockJson(block)); }

  // Takes one block's data, asks for the next (if any), and writes the data at its offset.
  bool ReceiveBlock(const Block& block, const Block* next, std::FILE* out, uint64_t* written) {
    auto data = NextReply();
    if (!data || frontend::IsFinalStatus(data->status)) {
      std::fprintf(stderr, "702 block %lld failed\n", static_cast<long long>(block.id));
      return false;
    }
    if (next && !Request(*next)) return false;
    if (std::fseek(out, static_cast<long>(block.offset), SEEK_SET) != 0) return false;
    size_t length = data->attachment.size();
    if (std::fwrite(data->attachment.data(), 1, length, out) != length) return false;
    *written += length;
    return true;
  }

  // After the last block Tandrel ends the task on its own with the final reply.
  bool AwaitSuccess() {
    auto final_reply = NextReply();
    return final_reply && final_reply->status == 1 && final_reply->code == 0;
  }

  frontend::Link& link_;
  std::string udid_;
  int64_t code_;
  uint64_t task_ = 0;
};

void PrintRow(const char* path, const Transfer& transfer, const Transfer& baseline) {
  double rate = bench::MegabytesPerSecond(transfer);
  double base = bench::MegabytesPerSecond(baseline);
  std::printf("%-44s %9.1f %9.3f  %8.3f\n", path, rate, transfer.seconds, base > 0 ? rate / base : 0.0);
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
  StagedDownload staged(tandrel->Link(), device.Udid(), ready[device.Udid()]);
  const std::string local_path = device.ScratchPath("download.bin");
  const std::string device_path = bench::kLargeFileDevicePath;
  std::vector<Transfer> best = bench::BestOfRounds(
      kRounds, {[&] { return staged.Run(device_path, local_path); },
                [&] { return reference.ReadToFile(device_path, local_path); },
                [&] { return reference.ReadToFile(device_path, local_path, kBlockSizedReadBytes); }});
  if (!device.AllDelivered(best)) return 1;
  std::printf("staged_download_bench: 256 MiB device file from vdevice into a local file, best of %d\n", kRounds);
  std::printf("%-44s %9s %9s  %8s\n", "path", "MB/s", "seconds", "ratio");
  PrintRow("Tandrel 702 staged download (2 MiB blocks)", best[0], best[1]);
  PrintRow("libimobiledevice afc_file_read, 4 MiB reads", best[1], best[1]);
  PrintRow("libimobiledevice afc_file_read, 2 MiB reads", best[2], best[1]);
  double ratio = bench::MegabytesPerSecond(best[0]) / bench::MegabytesPerSecond(best[1]);
  std::printf("ratio = MB/s / libimobiledevice with 4 MiB reads; Tandrel 702: %.3f (target >= %.1f) %s\n", ratio,
              kTargetRatio, ratio >= kTargetRatio ? "ok" : "BELOW TARGET");
  return 0;
}

}  // namespace

int main() {
  int code = Run();
  std::fflush(stdout);
  return code;
}
