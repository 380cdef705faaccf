#include "platform/qr_task_schedular.h"

#include "platform/qr_task_pool.h"

namespace {

// Enough for any front-end's lifetime of stopped IDs; the oldest are forgotten beyond it.
constexpr size_t kMaxRememberedAborts = 65536;

}  // namespace

QrTaskSchedular& QrTaskSchedular::Get() {
  static QrTaskSchedular* schedular = new QrTaskSchedular();
  return *schedular;
}

std::shared_ptr<QrTask> QrTaskSchedular::FindTask(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = tasks_.find(id);
  return found == tasks_.end() ? nullptr : found->second;
}

void QrTaskSchedular::Register(const std::shared_ptr<QrTask>& task) {
  std::string id = task->GetTaskId();
  if (id.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  tasks_[id] = task;
}

bool QrTaskSchedular::QueueRun(const std::shared_ptr<QrTask>& task, QrTask::TaskFunc func) {
  std::lock_guard<std::mutex> lock(task->mutex_);
  task->pending_runs_.push_back(std::move(func));
  if (task->run_scheduled_) return false;
  task->run_scheduled_ = true;
  return true;
}

void QrTaskSchedular::DrainRuns(const std::shared_ptr<QrTask>& task) {
  for (;;) {
    QrTask::TaskFunc func;
    {
      std::lock_guard<std::mutex> lock(task->mutex_);
      if (task->pending_runs_.empty()) {
        task->run_scheduled_ = false;
        return;
      }
      func = std::move(task->pending_runs_.front());
      task->pending_runs_.pop_front();
    }
    if (!func) continue;
    QrTaskStatus expected = kQrTaskStatusCreated;
    task->status_.compare_exchange_strong(expected, kQrTaskStatusRunning);
    func(task);
  }
}

bool QrTaskSchedular::PostTask(const std::shared_ptr<QrTask>& task) {
  if (!task) return false;
  Register(task);
  if (QueueRun(task, task->GetTaskFunc())) QrTaskPool::Get().AddQuickTask([task] { DrainRuns(task); });
  return true;
}

bool QrTaskSchedular::PostTaskRun(const std::shared_ptr<QrTask>& task, QrTask::TaskFunc func) {
  if (!task || !func) return false;
  if (QueueRun(task, std::move(func))) QrTaskPool::Get().AddQuickTask([task] { DrainRuns(task); });
  return true;
}

bool QrTaskSchedular::PostTaskEvent(const std::shared_ptr<QrTaskEvent>& event) {
  if (!event) return false;
  // Register and claim every task now, so that a packet for one of them that arrives before
  // the event runs is queued behind the first run instead of overtaking it.
  Register(event);
  for (const auto& package : event->Packages()) {
    Register(package);
    for (const auto& task : package->Tasks()) {
      Register(task);
      QueueRun(task, task->GetTaskFunc());
    }
  }
  QrTaskPool::Get().AddQuickTask([event] { RunEvent(event); });
  return true;
}

void QrTaskSchedular::RunEvent(const std::shared_ptr<QrTaskEvent>& event) {
  for (const auto& package : event->Packages()) {
    for (const auto& task : package->Tasks()) DrainRuns(task);
    if (auto func = package->GetTaskFunc()) func(package);
  }
  if (auto func = event->GetTaskFunc()) func(event);
}

bool QrTaskSchedular::IsAbortTask(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  return aborted_.count(id) != 0;
}

bool QrTaskSchedular::StopTask(const std::string& id) {
  std::shared_ptr<QrTask> task;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (aborted_.insert(id).second) {
      aborted_order_.push_back(id);
      if (aborted_order_.size() > kMaxRememberedAborts) {
        aborted_.erase(aborted_order_.front());
        aborted_order_.pop_front();
      }
    }
    auto found = tasks_.find(id);
    if (found != tasks_.end()) {
      task = found->second;
      tasks_.erase(found);
    }
  }
  if (task) task->status_.store(kQrTaskStatusStopped);
  return true;
}

void QrTaskSchedular::OnTaskStatus(const std::shared_ptr<QrTask>& task, QrTaskStatus status) {
  task->status_.store(status);
  if (status != kQrTaskStatusFinished && status != kQrTaskStatusStopped) return;
  std::string id = task->GetTaskId();
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = tasks_.find(id);
  if (found != tasks_.end() && found->second == task) tasks_.erase(found);
}

size_t QrTaskSchedular::KnownTaskCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return tasks_.size();
}
