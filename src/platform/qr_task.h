// Tasks of the scheduler: a task carries an ID text, a function, data, and a status that modules
// read to learn that their command was stopped. Packages group tasks; events group packages.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

enum QrTaskStatus : int {
  kQrTaskStatusCreated = 0,
  kQrTaskStatusFinished = 1,
  kQrTaskStatusRunning = 2,
  kQrTaskStatusStopped = 5,
};

class QrTask : public std::enable_shared_from_this<QrTask> {
 public:
  using TaskFunc = std::function<void(std::shared_ptr<QrTask>)>;

  QrTask() = default;
  virtual ~QrTask() = default;
  QrTask(const QrTask&) = delete;
  QrTask& operator=(const QrTask&) = delete;

  void SetTaskId(const std::string& id);
  void SetTaskId(uint64_t id);
  std::string GetTaskId() const;

  void SetTaskFunc(TaskFunc func);
  void ResetFunc();
  TaskFunc GetTaskFunc() const;

  // The data the task was created with (for command tasks, their TaskMetaData).
  void SetTaskData(std::shared_ptr<void> data);
  std::shared_ptr<void> GetTaskData() const;
  template <typename T>
  std::shared_ptr<T> GetTaskDataAs() const {
    return std::static_pointer_cast<T>(GetTaskData());
  }

  // State that a module keeps between the packets of one command (a staged transfer).
  void SetTaskState(std::shared_ptr<void> state);
  std::shared_ptr<void> GetTaskState() const;

  QrTaskStatus GetStatus() const { return status_.load(); }

  // Reports a new status; finished (1) and stopped (5) make the scheduler forget the task.
  static void NotifySchedular(const std::shared_ptr<QrTask>& task, QrTaskStatus status);

 private:
  friend class QrTaskSchedular;

  mutable std::mutex mutex_;
  std::string id_;
  TaskFunc func_;
  std::shared_ptr<void> data_;
  std::shared_ptr<void> state_;
  std::atomic<QrTaskStatus> status_{kQrTaskStatusCreated};
  // Runs of this task wait here so that the packets of one task are handled one after another.
  std::deque<TaskFunc> pending_runs_;
  bool run_scheduled_ = false;
};

class QrTaskPackage : public QrTask {
 public:
  void AddTask(std::shared_ptr<QrTask> task);
  std::vector<std::shared_ptr<QrTask>> Tasks() const;

 private:
  mutable std::mutex tasks_mutex_;
  std::vector<std::shared_ptr<QrTask>> tasks_;
};

class QrTaskEvent : public QrTask {
 public:
  void AddPackage(std::shared_ptr<QrTaskPackage> package);
  std::vector<std::shared_ptr<QrTaskPackage>> Packages() const;

 private:
  mutable std::mutex packages_mutex_;
  std::vector<std::shared_ptr<QrTaskPackage>> packages_;
};
