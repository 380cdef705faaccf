// What the device benchmarks share: the simulated iPhone serving one large file, the reference
// reader built on libimobiledevice's AFC API, and the arithmetic of best runs and percentiles.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_data.h"
#include "vdevice_fixture.h"

namespace bench {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kLargeFileBytes = 256u << 20;
// Large reads keep the number of AFC round trips low; the reference reader uses the same piece
// size as Tandrel's transfer buffer so that neither side wins by its read size alone.
constexpr uint32_t kReferenceReadBytes = 4u << 20;
constexpr const char* kLargeFileDevicePath = "/Downloads/bench-large.bin";

// CPU time (user and system, seconds) spent while a transfer's clock ran: by this process (the
// front-end or the reference client), by Tandrel and by the simulated device.
struct CpuUse {
  double front_end = 0;
  double host = 0;
  double device = 0;
};

// Measures CpuUse over a span; the host and device are named by process ID (0: not measured).
class CpuMeter {
 public:
  CpuMeter(int64_t host_pid, int64_t device_pid) : host_pid_(host_pid), device_pid_(device_pid) {}
  void Start();
  CpuUse Stop() const;

 private:
  int64_t host_pid_;
  int64_t device_pid_;
  CpuUse start_;
};

// One measured transfer. The checksum is taken after the clock stopped, so that every path is
// checked against the served file without paying for it in its figure.
struct Transfer {
  bool ok = false;
  double seconds = 0;
  uint64_t bytes = 0;
  uint64_t checksum = 0;
  CpuUse cpu;
};

// A local file, closed when it goes away.
struct LocalFileCloser {
  void operator()(std::FILE* file) const {
    if (file) std::fclose(file);
  }
};
using LocalFile = std::unique_ptr<std::FILE, LocalFileCloser>;

// Where a measured download lands on this computer.
enum class LocalTarget {
  kNewFile,  // a file created for the run and removed after it
  // One file that every run writes over in place, its pages kept in memory between runs. On this
  // VM, pages handed out again soon after hundreds of MiB were freed cost several times more to
  // touch, at moments no run controls; writing into kept pages leaves that noise out.
  kOverwrite,
};
LocalFile OpenLocalTarget(const std::string& path, LocalTarget target);
// Checksums the file a run wrote (after its clock stopped), then removes it or, when it is kept,
// overwrites it with zeros in place, so that no run can pass on bytes an earlier run wrote.
void FinishLocalTarget(const std::string& path, LocalTarget target, Transfer* transfer);

double MegabytesPerSecond(const Transfer& transfer);
double SecondsSince(Clock::time_point start);


// Runs every path once per round and keeps each path's fastest successful run. Interleaving
// spreads a busy moment of the shared machine over all paths instead of one, and each round
// starts one path later, so that no path always runs right after the same neighbour (a path that
// frees hundreds of MiB slows the next one down while the kernel takes the pages back).
std::vector<Transfer> BestOfRounds(int rounds, const std::vector<std::function<Transfer()>>& paths);

// Median and 90th percentile (nearest rank) of latencies in milliseconds.
struct LatencySummary {
  double median_ms = 0;
  double p90_ms = 0;
};
LatencySummary Summarize(std::vector<double> samples_ms);

// The demo iPhone served by vdevice with a 256 MiB file of pseudo-random bytes in its media
// folder, reachable by this process's libimobiledevice calls once Start() succeeded.
class LargeFileDevice {
 public:
  // False, with the reason and the server's log on stderr, when the device cannot be served.
  bool Start();
  // True when every transfer delivered the whole served file; reports the first that did not.
  bool AllDelivered(const std::vector<Transfer>& transfers) const;
  vdevice_test::VdeviceFixture& Fixture() { return vd_; }
  const std::string& Udid() const { return udid_; }
  // The served file as it lies on this computer's disk.
  std::string ServedFilePath() const { return profile_ + "/afc" + kLargeFileDevicePath; }
  uint64_t ExpectedChecksum() const { return expected_checksum_; }
  // A scratch path inside the fixture's folder, removed with it.
  std::string ScratchPath(const std::string& name) const { return vd_.folder() + "/" + name; }

 private:
  vdevice_test::VdeviceFixture vd_;
  std::string profile_;
  std::string udid_;
  uint64_t expected_checksum_ = 0;
};

// The reference: libimobiledevice's own AFC client on its own connection to the device. Its
// headers stay out of this one: their AFC names clash with the device framework's, which the
// benchmarks of Tandrel's device layer include.
class ReferenceAfcReader {
 public:
  ReferenceAfcReader();
  ~ReferenceAfcReader();
  ReferenceAfcReader(const ReferenceAfcReader&) = delete;
  ReferenceAfcReader& operator=(const ReferenceAfcReader&) = delete;

  bool Open(const std::string& udid);
  // Reads the whole device file in pieces of `piece_bytes` into a string sized from the file's
  // information, or into a local file.
  Transfer ReadToMemory(const std::string& device_path, uint32_t piece_bytes = kReferenceReadBytes);
  Transfer ReadToFile(const std::string& device_path, const std::string& local_path,
                      uint32_t piece_bytes = kReferenceReadBytes, LocalTarget target = LocalTarget::kNewFile,
                      CpuMeter* meter = nullptr);
  // One file-information request per path, in order; seconds, negative when one failed.
  double StatEach(const std::vector<std::string>& device_paths);

 private:
  struct Client;
  std::unique_ptr<Client> client_;
};

}  // namespace bench
