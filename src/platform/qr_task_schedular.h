// The scheduler: the table of known tasks by ID text, and the IDs that were stopped.
//
// A task is known (found by FindTask) from the moment it is posted until it reports itself
// finished (status 1) or stopped (status 5) with NotifySchedular, or until StopTask stops it.
// Command tasks report themselves finished when their final reply goes out, so a command whose
// work spans several packets (a staged transfer) stays known between its packets.
//
// The runs of one task never overlap: a task posted again while it runs is run again afterwards,
// once per posting, in posting order.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "platform/qr_task.h"

class QrTaskSchedular {
 public:
  static QrTaskSchedular& Get();

  std::shared_ptr<QrTask> FindTask(const std::string& id);
  // Runs the task's current function on a worker (after any run of it still pending).
  bool PostTask(const std::shared_ptr<QrTask>& task);
  // Runs `func` as one more run of the task, after every run already posted, without making
  // the task known again (it may have been stopped or finished meanwhile).
  bool PostTaskRun(const std::shared_ptr<QrTask>& task, QrTask::TaskFunc func);
  // Runs each package's tasks, then the package's function, then the event's function.
  bool PostTaskEvent(const std::shared_ptr<QrTaskEvent>& event);
  bool IsAbortTask(const std::string& id);
  // Marks the ID stopped: a task with that ID gets status 5 and is no longer found; later
  // packets with that ID are dropped. Works also for an ID that never had a task.
  bool StopTask(const std::string& id);

  void OnTaskStatus(const std::shared_ptr<QrTask>& task, QrTaskStatus status);
  size_t KnownTaskCount();

 private:
  QrTaskSchedular() = default;
  void Register(const std::shared_ptr<QrTask>& task);
  // Queues a run of the task; true when the caller must start the run loop.
  static bool QueueRun(const std::shared_ptr<QrTask>& task, QrTask::TaskFunc func);
  static void DrainRuns(const std::shared_ptr<QrTask>& task);
  static void RunEvent(const std::shared_ptr<QrTaskEvent>& event);

  std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<QrTask>> tasks_;
  std::unordered_set<std::string> aborted_;
  std::deque<std::string> aborted_order_;  // oldest first, to bound the set
};
