// The scheduler's guarantees that the command path relies on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/kst_utility_app.h"
#include "platform/qr_task_pool.h"
#include "platform/qr_task_schedular.h"

namespace {

class Recorder {
 public:
  void Add(const std::string& entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(entry);
    signal_.notify_all();
  }
  bool WaitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return signal_.wait_for(lock, timeout, [&] { return entries_.size() >= count; });
  }
  std::vector<std::string> Entries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable signal_;
  std::vector<std::string> entries_;
};

std::string UniqueId() {
  static std::atomic<int> counter{1000};
  return std::to_string(++counter);
}

// An event holding one package holding one task, the shape every command takes.
std::shared_ptr<QrTaskEvent> CommandEvent(const std::shared_ptr<QrTask>& task, Recorder* recorder) {
  auto package = std::make_shared<QrTaskPackage>();
  package->SetTaskId(KSTUtilityApp::GetTagTaskId("package"));
  package->AddTask(task);
  package->SetTaskFunc([recorder](std::shared_ptr<QrTask> self) {
    recorder->Add("package");
    QrTask::NotifySchedular(self, kQrTaskStatusFinished);
  });
  auto event = std::make_shared<QrTaskEvent>();
  event->SetTaskId(KSTUtilityApp::GetTagTaskId("event"));
  event->AddPackage(package);
  event->SetTaskFunc([recorder](std::shared_ptr<QrTask> self) {
    recorder->Add("event");
    QrTask::NotifySchedular(self, kQrTaskStatusFinished);
  });
  return event;
}

class SchedulerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { QrTaskPool::Get().Activate(4); }
  QrTaskSchedular& schedular = QrTaskSchedular::Get();
};

TEST_F(SchedulerTest, EventRunsTasksThenPackageThenEventFunction) {
  Recorder recorder;
  auto task = std::make_shared<QrTask>();
  task->SetTaskId(UniqueId());
  task->SetTaskFunc([&recorder](std::shared_ptr<QrTask>) { recorder.Add("task"); });
  schedular.PostTaskEvent(CommandEvent(task, &recorder));
  ASSERT_TRUE(recorder.WaitFor(3));
  EXPECT_EQ(recorder.Entries(), (std::vector<std::string>{"task", "package", "event"}));
}

TEST_F(SchedulerTest, TaskIsFoundUntilItReportsFinished) {
  Recorder recorder;
  std::string id = UniqueId();
  auto task = std::make_shared<QrTask>();
  task->SetTaskId(id);
  task->SetTaskFunc([&recorder](std::shared_ptr<QrTask>) { recorder.Add("task"); });
  schedular.PostTaskEvent(CommandEvent(task, &recorder));
  ASSERT_TRUE(recorder.WaitFor(3));
  // Still known after its first run: a later packet of the same command finds it.
  EXPECT_EQ(schedular.FindTask(id), task);
  QrTask::NotifySchedular(task, kQrTaskStatusFinished);
  EXPECT_EQ(schedular.FindTask(id), nullptr);
  EXPECT_EQ(task->GetStatus(), kQrTaskStatusFinished);
}

TEST_F(SchedulerTest, RepostedTaskRunsAgainWithItsNewFunctionNeverOverlapping) {
  Recorder recorder;
  std::string id = UniqueId();
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  auto slow = [&](const std::string& name) {
    return [&, name](std::shared_ptr<QrTask>) {
      if (running.fetch_add(1) != 0) overlapped = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      recorder.Add(name);
      running.fetch_sub(1);
    };
  };
  auto task = std::make_shared<QrTask>();
  task->SetTaskId(id);
  task->SetTaskFunc(slow("first"));
  schedular.PostTaskEvent(CommandEvent(task, &recorder));
  // Two more packets for the same ID arrive while the first still runs.
  for (const char* name : {"second", "third"}) {
    auto found = schedular.FindTask(id);
    ASSERT_EQ(found, task);
    found->ResetFunc();
    found->SetTaskFunc(slow(name));
    schedular.PostTask(found);
  }
  ASSERT_TRUE(recorder.WaitFor(5));
  std::vector<std::string> order;
  for (const auto& entry : recorder.Entries()) {
    if (entry == "first" || entry == "second" || entry == "third") order.push_back(entry);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second", "third"}));
  EXPECT_FALSE(overlapped);
  QrTask::NotifySchedular(task, kQrTaskStatusFinished);
}

TEST_F(SchedulerTest, StopBeforeArrivalMarksTheIdAborted) {
  std::string id = UniqueId();
  EXPECT_FALSE(schedular.IsAbortTask(id));
  EXPECT_TRUE(schedular.StopTask(id));
  EXPECT_TRUE(schedular.IsAbortTask(id));
  EXPECT_EQ(schedular.FindTask(id), nullptr);
}

TEST_F(SchedulerTest, StopWhileRunningHidesTheTaskAndMarksItStopped) {
  Recorder recorder;
  std::string id = UniqueId();
  std::atomic<bool> release{false};
  std::atomic<int> seen_status{-1};
  auto task = std::make_shared<QrTask>();
  task->SetTaskId(id);
  task->SetTaskFunc([&](std::shared_ptr<QrTask> self) {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // What a module polls for while it works.
    auto found = QrTaskSchedular::Get().FindTask(id);
    seen_status = found ? found->GetStatus() : self->GetStatus();
    recorder.Add("task");
  });
  schedular.PostTaskEvent(CommandEvent(task, &recorder));
  schedular.StopTask(id);
  release = true;
  ASSERT_TRUE(recorder.WaitFor(3));
  EXPECT_EQ(seen_status.load(), kQrTaskStatusStopped);
  EXPECT_TRUE(schedular.IsAbortTask(id));
  EXPECT_EQ(schedular.FindTask(id), nullptr);
}

TEST_F(SchedulerTest, QuickTasksRunOnWorkers) {
  Recorder recorder;
  for (int i = 0; i < 20; ++i) QrTaskPool::Get().AddQuickTask([&recorder] { recorder.Add("quick"); });
  EXPECT_TRUE(recorder.WaitFor(20));
}

TEST(TagTaskIdTest, IdsAreUniqueAndNeverDecimal) {
  std::string a = KSTUtilityApp::GetTagTaskId("package");
  std::string b = KSTUtilityApp::GetTagTaskId("package");
  EXPECT_NE(a, b);
  EXPECT_NE(a.find_first_not_of("0123456789"), std::string::npos);
  EXPECT_FALSE(KSTUtilityApp::GetTagTaskId(nullptr).empty());
}

}  // namespace
