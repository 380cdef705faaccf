#include "platform/qr_task.h"

#include "platform/qr_task_schedular.h"

void QrTask::SetTaskId(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  id_ = id;
}

void QrTask::SetTaskId(uint64_t id) { SetTaskId(std::to_string(id)); }

std::string QrTask::GetTaskId() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return id_;
}

void QrTask::SetTaskFunc(TaskFunc func) {
  std::lock_guard<std::mutex> lock(mutex_);
  func_ = std::move(func);
}

void QrTask::ResetFunc() {
  std::lock_guard<std::mutex> lock(mutex_);
  func_ = nullptr;
}

QrTask::TaskFunc QrTask::GetTaskFunc() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return func_;
}

void QrTask::SetTaskData(std::shared_ptr<void> data) {
  std::lock_guard<std::mutex> lock(mutex_);
  data_ = std::move(data);
}

std::shared_ptr<void> QrTask::GetTaskData() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return data_;
}

void QrTask::SetTaskState(std::shared_ptr<void> state) {
  std::shared_ptr<void> previous;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    previous = std::move(state_);
    state_ = std::move(state);
  }
  // `previous` is released here, outside the lock: its destructor may do device work.
}

std::shared_ptr<void> QrTask::GetTaskState() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

void QrTask::NotifySchedular(const std::shared_ptr<QrTask>& task, QrTaskStatus status) {
  if (task) QrTaskSchedular::Get().OnTaskStatus(task, status);
}

void QrTaskPackage::AddTask(std::shared_ptr<QrTask> task) {
  std::lock_guard<std::mutex> lock(tasks_mutex_);
  tasks_.push_back(std::move(task));
}

std::vector<std::shared_ptr<QrTask>> QrTaskPackage::Tasks() const {
  std::lock_guard<std::mutex> lock(tasks_mutex_);
  return tasks_;
}

void QrTaskEvent::AddPackage(std::shared_ptr<QrTaskPackage> package) {
  std::lock_guard<std::mutex> lock(packages_mutex_);
  packages_.push_back(std::move(package));
}

std::vector<std::shared_ptr<QrTaskPackage>> QrTaskEvent::Packages() const {
  std::lock_guard<std::mutex> lock(packages_mutex_);
  return packages_;
}
