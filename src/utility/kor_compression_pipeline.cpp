#include "utility/kor_compression_pipeline.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "utility/kor_message.h"

namespace {

// Niceness a yielding worker adds to its own: it still progresses on a busy machine.
constexpr int kYieldingNiceness = 10;

void LowerThisThreadsPriority() {
  const auto thread = static_cast<id_t>(syscall(SYS_gettid));
  errno = 0;
  const int now = getpriority(PRIO_PROCESS, thread);
  if (errno == 0) setpriority(PRIO_PROCESS, thread, std::min(now + kYieldingNiceness, 19));
}

}  // namespace

KorCompressionPipeline::KorCompressionPipeline(size_t workers, bool yielding) {
  workers = std::max<size_t>(workers, 1);
  workers_.reserve(workers);
  for (size_t i = 0; i < workers; ++i) workers_.emplace_back([this, yielding] { WorkerLoop(yielding); });
}

KorCompressionPipeline::~KorCompressionPipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quitting_ = true;
  }
  work_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

size_t KorCompressionPipeline::DefaultWorkers() {
  static const size_t workers = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4);
  return workers;
}

void KorCompressionPipeline::Submit(std::string text) {
  auto job = std::make_shared<Job>();
  job->result.text = std::move(text);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  work_.notify_one();
}

size_t KorCompressionPipeline::InFlight() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return jobs_.size();
}

bool KorCompressionPipeline::OldestReady() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !jobs_.empty() && jobs_.front()->state == State::kDone;
}

std::shared_ptr<KorCompressionPipeline::Job> KorCompressionPipeline::ClaimQueued() {
  for (const std::shared_ptr<Job>& job : jobs_) {
    if (job->state != State::kQueued) continue;
    job->state = State::kRunning;
    return job;
  }
  return nullptr;
}

// Runs without the mutex: a running job's result belongs to the thread that claimed it.
void KorCompressionPipeline::Compress(const std::shared_ptr<Job>& job) {
  KorCompressedAttachment& result = job->result;
  result.compressed = KorCompressAttachment(reinterpret_cast<const uint8_t*>(result.text.data()), result.text.size(),
                                            &result.zlib);
  if (result.compressed) std::string().swap(result.text);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job->state = State::kDone;
  }
  done_.notify_all();
}

void KorCompressionPipeline::WorkerLoop(bool yielding) {
  if (yielding) LowerThisThreadsPriority();
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    std::shared_ptr<Job> job;
    work_.wait(lock, [&] { return quitting_ || (job = ClaimQueued()) != nullptr; });
    if (!job) return;
    lock.unlock();
    Compress(job);
    lock.lock();
  }
}

KorCompressedAttachment KorCompressionPipeline::TakeOldest() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (jobs_.empty()) return KorCompressedAttachment();
  std::shared_ptr<Job> oldest = jobs_.front();
  while (oldest->state != State::kDone) {
    if (std::shared_ptr<Job> job = ClaimQueued()) {
      lock.unlock();
      Compress(job);
      lock.lock();
      continue;
    }
    done_.wait(lock, [&] { return oldest->state == State::kDone; });
  }
  jobs_.pop_front();
  return std::move(oldest->result);
}
