#include "bench_support.h"

#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <type_traits>

#include <sys/resource.h>
#include <unistd.h>

#include "platform/kst_file.h"
#include "platform/kst_fs.h"

namespace bench {

namespace {

// Pieces of the zeros written over a kept file.
constexpr size_t kZeroPieceBytes = 4u << 20;

// A device file opened through libimobiledevice, closed when the object goes away.
class ReferenceFile {
 public:
  ReferenceFile(afc_client_t afc, const std::string& path) : afc_(afc) {
    open_ = afc_file_open(afc_, path.c_str(), AFC_FOPEN_RDONLY, &handle_) == AFC_E_SUCCESS;
  }
  ~ReferenceFile() {
    if (open_) afc_file_close(afc_, handle_);
  }
  ReferenceFile(const ReferenceFile&) = delete;
  ReferenceFile& operator=(const ReferenceFile&) = delete;
  bool IsOpen() const { return open_; }
  uint64_t Handle() const { return handle_; }

 private:
  afc_client_t afc_;
  uint64_t handle_ = 0;
  bool open_ = false;
};

}  // namespace

double MegabytesPerSecond(const Transfer& transfer) {
  return transfer.ok && transfer.seconds > 0 ? static_cast<double>(transfer.bytes) / 1e6 / transfer.seconds : 0.0;
}

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::vector<Transfer> BestOfRounds(int rounds, const std::vector<std::function<Transfer()>>& paths) {
  std::vector<Transfer> best(paths.size());
  for (int round = 0; round < rounds; ++round) {
    for (size_t turn = 0; turn < paths.size(); ++turn) {
      size_t i = (turn + static_cast<size_t>(round)) % paths.size();
      Transfer run = paths[i]();
      if (!run.ok) {
        std::fprintf(stderr, "round %d, path %zu: failed\n", round + 1, i + 1);
        continue;
      }
      // Every run on stderr, so that the spread behind a best figure can be judged.
      std::fprintf(stderr, "round %d, path %zu: %.1f MB/s\n", round + 1, i + 1, MegabytesPerSecond(run));
      if (!best[i].ok || run.seconds < best[i].seconds) best[i] = run;
    }
  }
  return best;
}

LatencySummary Summarize(std::vector<double> samples_ms) {
  LatencySummary summary;
  if (samples_ms.empty()) return summary;
  std::sort(samples_ms.begin(), samples_ms.end());
  size_t n = samples_ms.size();
  summary.median_ms = n % 2 == 1 ? samples_ms[n / 2] : (samples_ms[n / 2 - 1] + samples_ms[n / 2]) / 2;
  size_t rank = static_cast<size_t>(std::ceil(0.9 * static_cast<double>(n)));
  summary.p90_ms = samples_ms[std::max<size_t>(rank, 1) - 1];
  return summary;
}

bool LargeFileDevice::Start() {
  profile_ = vd_.MakeProfile("demo");
  udid_ = profile_.empty() ? std::string() : vdevice_test::VdeviceFixture::ProfileUdid(profile_);
  if (udid_.empty() || !WritePseudoRandomFile(ServedFilePath(), kLargeFileBytes)) {
    std::fprintf(stderr, "cannot generate the demo profile with its large file\n");
    return false;
  }
  // Read once so that every measured path finds the file in the page cache.
  expected_checksum_ = ChecksumOfFile(ServedFilePath());
  if (!vd_.Start({profile_})) {
    std::fprintf(stderr, "cannot serve the simulated iPhone\n%s", vd_.ServerLog().c_str());
    return false;
  }
  vd_.ExportSocketAddress();
  return true;
}

bool LargeFileDevice::AllDelivered(const std::vector<Transfer>& transfers) const {
  for (size_t i = 0; i < transfers.size(); ++i) {
    const Transfer& transfer = transfers[i];
    if (!transfer.ok || transfer.bytes != kLargeFileBytes || transfer.checksum != expected_checksum_) {
      std::fprintf(stderr, "path %zu did not deliver the served file (%llu bytes, checksum %s)\n", i + 1,
                   static_cast<unsigned long long>(transfer.bytes),
                   transfer.checksum == expected_checksum_ ? "equal" : "differs");
      return false;
    }
  }
  return true;
}

struct ReferenceAfcReader::Client {
  struct DeviceFree {
    void operator()(idevice_t device) const { idevice_free(device); }
  };
  struct AfcFree {
    void operator()(afc_client_t afc) const { afc_client_free(afc); }
  };
  std::unique_ptr<std::remove_pointer_t<idevice_t>, DeviceFree> device;
  std::unique_ptr<std::remove_pointer_t<afc_client_t>, AfcFree> afc;
  std::vector<char> buffer;

  int64_t FileSize(const std::string& device_path) {
    char** entries = nullptr;
    if (afc_get_file_info(afc.get(), device_path.c_str(), &entries) != AFC_E_SUCCESS || !entries) return -1;
    int64_t size = -1;
    for (char** entry = entries; entry[0] && entry[1]; entry += 2) {
      if (std::strcmp(entry[0], "st_size") == 0) size = std::strtoll(entry[1], nullptr, 10);
    }
    afc_dictionary_free(entries);
    return size;
  }

  // Reads the file piece by piece into `sink`; false when opening, reading or the sink fails.
  template <typename Sink>
  bool ReadPieces(const std::string& device_path, uint32_t piece_bytes, Sink sink, uint64_t* total) {
    ReferenceFile file(afc.get(), device_path);
    if (!file.IsOpen()) return false;
    if (buffer.size() < piece_bytes) buffer.resize(piece_bytes);
    *total = 0;
    for (;;) {
      uint32_t count = 0;
      if (afc_file_read(afc.get(), file.Handle(), buffer.data(), piece_bytes, &count) != AFC_E_SUCCESS) return false;
      if (count == 0) return true;
      if (!sink(buffer.data(), count)) return false;
      *total += count;
    }
  }
};

ReferenceAfcReader::ReferenceAfcReader() : client_(std::make_unique<Client>()) {}
ReferenceAfcReader::~ReferenceAfcReader() = default;

bool ReferenceAfcReader::Open(const std::string& udid) {
  idevice_t device = nullptr;
  if (idevice_new(&device, udid.c_str()) != IDEVICE_E_SUCCESS) return false;
  client_->device.reset(device);
  afc_client_t afc = nullptr;
  if (afc_client_start_service(client_->device.get(), &afc, "bench") != AFC_E_SUCCESS) return false;
  client_->afc.reset(afc);
  return true;
}

double ReferenceAfcReader::StatEach(const std::vector<std::string>& device_paths) {
  Clock::time_point start = Clock::now();
  for (const std::string& path : device_paths) {
    if (client_->FileSize(path) < 0) return -1;
  }
  return SecondsSince(start);
}

Transfer ReferenceAfcReader::ReadToMemory(const std::string& device_path, uint32_t piece_bytes) {
  Transfer transfer;
  std::string out;
  Clock::time_point start = Clock::now();
  int64_t size = client_->FileSize(device_path);
  if (size < 0) return transfer;
  out.reserve(static_cast<size_t>(size));
  auto append = [&out](const char* data, uint32_t length) {
    out.append(data, length);
    return true;
  };
  transfer.ok = client_->ReadPieces(device_path, piece_bytes, append, &transfer.bytes);
  transfer.seconds = SecondsSince(start);
  transfer.checksum = ChecksumOf(out.data(), out.size());
  return transfer;
}

Transfer ReferenceAfcReader::ReadToFile(const std::string& device_path, const std::string& local_path,
                                        uint32_t piece_bytes, LocalTarget target, CpuMeter* meter) {
  Transfer transfer;
  {
    if (meter) meter->Start();
    Clock::time_point start = Clock::now();
    LocalFile local = OpenLocalTarget(local_path, target);
    if (!local) return transfer;
    auto write = [&local](const char* data, uint32_t length) {
      return std::fwrite(data, 1, length, local.get()) == length;
    };
    transfer.ok = client_->ReadPieces(device_path, piece_bytes, write, &transfer.bytes);
    local.reset();
    transfer.seconds = SecondsSince(start);
    if (meter) transfer.cpu = meter->Stop();
  }
  FinishLocalTarget(local_path, target, &transfer);
  return transfer;
}

namespace {

double OwnCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// User and system time of another process from /proc; 0 when it cannot be read.
double ProcessCpuSeconds(int64_t pid) {
  if (pid <= 0) return 0;
  std::string stat;
  if (!kst::ReadWholeFile("/proc/" + std::to_string(pid) + "/stat", &stat)) return 0;
  // The fields after the command name (which may hold spaces) start behind its closing ")".
  size_t end_of_name = stat.rfind(')');
  if (end_of_name == std::string::npos) return 0;
  std::istringstream fields(stat.substr(end_of_name + 2));
  std::string field;
  unsigned long long user = 0;
  unsigned long long system = 0;
  // utime and stime are fields 14 and 15; the stream starts at field 3.
  for (int number = 3; number <= 15 && fields >> field; ++number) {
    if (number == 14) user = std::strtoull(field.c_str(), nullptr, 10);
    if (number == 15) system = std::strtoull(field.c_str(), nullptr, 10);
  }
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

void CpuMeter::Start() {
  start_.front_end = OwnCpuSeconds();
  start_.host = ProcessCpuSeconds(host_pid_);
  start_.device = ProcessCpuSeconds(device_pid_);
}

CpuUse CpuMeter::Stop() const {
  CpuUse used;
  used.front_end = OwnCpuSeconds() - start_.front_end;
  used.host = ProcessCpuSeconds(host_pid_) - start_.host;
  used.device = ProcessCpuSeconds(device_pid_) - start_.device;
  return used;
}

LocalFile OpenLocalTarget(const std::string& path, LocalTarget target) {
  if (target == LocalTarget::kOverwrite) {
    if (std::FILE* kept = std::fopen(path.c_str(), "r+b")) return LocalFile(kept);
  }
  return LocalFile(std::fopen(path.c_str(), "wb"));
}

void FinishLocalTarget(const std::string& path, LocalTarget target, Transfer* transfer) {
  transfer->checksum = ChecksumOfFile(path);
  if (target == LocalTarget::kNewFile) {
    std::remove(path.c_str());
    return;
  }
  LocalFile file(std::fopen(path.c_str(), "r+b"));
  if (!file) return;
  std::fseek(file.get(), 0, SEEK_END);
  long size = std::ftell(file.get());
  std::rewind(file.get());
  std::vector<char> zeros(kZeroPieceBytes);
  for (long done = 0; done < size; done += static_cast<long>(zeros.size())) {
    std::fwrite(zeros.data(), 1, std::min<size_t>(zeros.size(), static_cast<size_t>(size - done)), file.get());
  }
}

}  // namespace bench
