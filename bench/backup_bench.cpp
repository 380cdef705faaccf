// A full backup (command 1600) of a simulated iPhone holding 1 GiB in 5,000 files, through a
// running Tandrel, beside libimobiledevice's `idevicebackup2 backup --full` of the same device in
// the same run: MB/s and files/s of both, their ratio, the CPU seconds of each client and of the
// device, and Tandrel's peak resident memory against its idle size. Once with the device at memory
// speed, once with its backup service paced to 40 MB/s (a USB 2 link).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_frontend.h"
#include "bench_support.h"
#include "frontend_message.h"
#include "platform/kst_fs.h"
#include "platform/kst_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kFiles = "5000";
constexpr const char* kBytes = "1G";
constexpr const char* kPacedMegabytesPerSecond = "40";
constexpr double kTargetRatio = 1.0;
constexpr int64_t kMemoryAllowanceKiB = 64 * 1024;
// Each client runs this often per speed, the order swapped every round (a run right after another
// freed a gigabyte of page cache pays for it), and its fastest run counts.
constexpr int kRounds = 2;

struct BackupRun {
  bool ok = false;
  double seconds = 0;
  uint64_t bytes = 0;
  uint64_t files = 0;
  double client_cpu = 0;  // Tandrel, or idevicebackup2
  double device_cpu = 0;
  int64_t idle_kib = 0;
  int64_t peak_kib = 0;
};

// A "Vm…:" line of /proc/<pid>/status in KiB; 0 when it cannot be read.
int64_t StatusKiB(int64_t pid, const char* field) {
  std::string status;
  if (!kst::ReadWholeFile("/proc/" + std::to_string(pid) + "/status", &status)) return 0;
  size_t at = status.find(field);
  return at == std::string::npos ? 0 : std::atoll(status.c_str() + at + std::strlen(field));
}

// Starts the peak resident size over from the current size.
void ResetPeak(int64_t pid) {
  std::FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/clear_refs").c_str(), "w");
  if (!file) return;
  std::fputs("5", file);
  std::fclose(file);
}

void CountFolder(const fs::path& folder, BackupRun* run) {
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    run->bytes += entry.file_size();
    ++run->files;
  }
}

// The program's full path from PATH (the process layer starts programs by path).
std::string FindOnPath(const std::string& program) {
  std::string path = kst::GetEnv("PATH");
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string candidate = path.substr(start, end - start) + "/" + program;
    if (end > start && kst::PathExists(candidate)) return candidate;
    start = end + 1;
  }
  return program;
}

double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

BackupRun TandrelBackup(harness::Tandrel& tandrel, const std::string& udid, int64_t code, int64_t device_pid,
                        const fs::path& root) {
  BackupRun run;
  const int64_t pid = tandrel.Link().TandrelPid();
  run.idle_kib = StatusKiB(pid, "VmRSS:");
  ResetPeak(pid);
  bench::CpuMeter meter(pid, device_pid);
  meter.Start();
  auto start = bench::Clock::now();
  const uint64_t task = bench::NextTaskId();
  std::vector<frontend::Message> messages =
      tandrel.Run(1600, task, frontend::DeviceCommandJson(udid, code),
                  frontend::CompressAttachment(R"({"path":")" + root.string() + R"("})"), 600s);
  run.seconds = bench::SecondsSince(start);
  bench::CpuUse cpu = meter.Stop();
  run.client_cpu = cpu.host;
  run.device_cpu = cpu.device;
  run.peak_kib = StatusKiB(pid, "VmHWM:");
  run.ok = !messages.empty() && messages.back().status == 1;
  if (!run.ok) std::fprintf(stderr, "Tandrel's backup failed (code %lld)\n", messages.empty() ? -1LL : static_cast<long long>(messages.back().code));
  if (run.ok) CountFolder(root, &run);
  fs::remove_all(root);
  return run;
}

BackupRun ReferenceBackup(vdevice_test::VdeviceFixture& vd, const std::string& udid, const fs::path& root) {
  BackupRun run;
  fs::create_directories(root);
  kst::SpawnOptions options;
  options.arguments = {"-u", udid, "backup", "--full", root.string()};
  options.extra_env["USBMUXD_SOCKET_ADDRESS"] = vd.socket_address();
  options.stdout_path = "/dev/null";
  const double children_before = ChildrenCpuSeconds();
  const double device_before = bench::CpuMeter(0, vd.pid()).Stop().device;
  auto start = bench::Clock::now();
  int error = 0;
  const int64_t pid = kst::SpawnProcess(FindOnPath("idevicebackup2"), options, &error);
  const int exit_code = pid > 0 ? kst::WaitProcess(pid, 600000) : -1;
  run.seconds = bench::SecondsSince(start);
  run.client_cpu = ChildrenCpuSeconds() - children_before;
  run.device_cpu = bench::CpuMeter(0, vd.pid()).Stop().device - device_before;
  run.ok = exit_code == 0;
  if (!run.ok) std::fprintf(stderr, "idevicebackup2 failed (exit %d, error %d)\n", exit_code, error);
  if (run.ok) CountFolder(root, &run);
  fs::remove_all(root);
  return run;
}

double Rate(double amount, double seconds) { return seconds > 0 ? amount / seconds : 0; }

void PrintTable(const char* title, const BackupRun& ours, const BackupRun& theirs) {
  std::printf("\n%s\n%-34s %9s %9s %9s %9s %10s %10s\n", title, "client", "MB/s", "files/s", "seconds", "ratio",
              "client CPU", "device CPU");
  const double base = Rate(static_cast<double>(theirs.bytes) / 1e6, theirs.seconds);
  for (const auto& [name, run] : {std::pair<const char*, const BackupRun&>{"Tandrel 1600", ours},
                                  std::pair<const char*, const BackupRun&>{"idevicebackup2 backup --full", theirs}}) {
    const double rate = Rate(static_cast<double>(run.bytes) / 1e6, run.seconds);
    std::printf("%-34s %9.1f %9.0f %9.2f %9.3f %9.2fs %9.2fs\n", name, rate,
                Rate(static_cast<double>(run.files), run.seconds), run.seconds, base > 0 ? rate / base : 0.0,
                run.client_cpu, run.device_cpu);
  }
  const double ratio = base > 0 ? Rate(static_cast<double>(ours.bytes) / 1e6, ours.seconds) / base : 0;
  const int64_t growth = ours.peak_kib - ours.idle_kib;
  std::printf("ratio %.3f (target >= %.1f) %s; Tandrel RSS idle %lld KiB, peak %lld KiB, growth %lld KiB "
              "(allowed %lld) %s\n",
              ratio, kTargetRatio, ratio >= kTargetRatio ? "ok" : "BELOW TARGET", static_cast<long long>(ours.idle_kib),
              static_cast<long long>(ours.peak_kib), static_cast<long long>(growth),
              static_cast<long long>(kMemoryAllowanceKiB), growth <= kMemoryAllowanceKiB ? "ok" : "ABOVE LIMIT");
}

int Run() {
  vdevice_test::VdeviceFixture vd;
  const std::string profile = vd.MakeProfile("demo", "", "", {"--backup-files", kFiles, "--backup-bytes", kBytes});
  if (profile.empty() || !vd.Start({profile})) {
    std::fprintf(stderr, "the simulated device did not start\n%s", vd.ServerLog().c_str());
    return 1;
  }
  const std::string udid = vdevice_test::VdeviceFixture::ProfileUdid(profile);
  std::unique_ptr<harness::Tandrel> tandrel = bench::StartTandrelFor(vd);
  if (!tandrel) return 1;
  auto ready = bench::WaitForReadyDevices(tandrel->Link(), 1, 30s);
  if (!ready.count(udid)) {
    std::fprintf(stderr, "the device did not become ready\n");
    return 1;
  }
  const fs::path scratch = fs::path(vd.folder()) / "backup_bench";
  std::printf("backup_bench: full backup of %s files, %s of generated content, from vdevice\n", kFiles, kBytes);

  auto best_of_rounds = [&](BackupRun* ours, BackupRun* reference) {
    for (int round = 0; round < kRounds; ++round) {
      for (int turn = 0; turn < 2; ++turn) {
        const bool tandrel_turn = (turn + round) % 2 == 0;
        BackupRun run = tandrel_turn ? TandrelBackup(*tandrel, udid, ready[udid], vd.pid(), scratch / "tandrel")
                                     : ReferenceBackup(vd, udid, scratch / "reference");
        if (!run.ok) return false;
        BackupRun* best = tandrel_turn ? ours : reference;
        if (!best->ok || run.seconds < best->seconds) {
          if (tandrel_turn && best->ok) run.peak_kib = std::max(run.peak_kib, best->peak_kib);
          *best = run;
        }
      }
    }
    return true;
  };
  BackupRun ours;
  BackupRun reference;
  if (!best_of_rounds(&ours, &reference)) return 1;
  PrintTable("device at memory speed", ours, reference);

  if (!vd.Fault(udid, "com.apple.mobilebackup2", {"pace", kPacedMegabytesPerSecond, "always"})) {
    std::fprintf(stderr, "the backup service could not be paced\n");
    return 1;
  }
  BackupRun paced;
  BackupRun paced_reference;
  if (!best_of_rounds(&paced, &paced_reference)) return 1;
  PrintTable((std::string("device paced to ") + kPacedMegabytesPerSecond + " MB/s").c_str(), paced, paced_reference);
  return 0;
}

}  // namespace

int main() {
  int code = Run();
  std::fflush(stdout);
  return code;
}
