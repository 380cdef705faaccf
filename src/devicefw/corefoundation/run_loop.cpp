// The framework's notification loop. One process-wide queue of calls: the MobileDevice library
// posts device notifications to it from its own threads, and whichever thread sits in
// CFRunLoopRun runs them in the order they were posted.
#include <condition_variable>
#include <deque>
#include <mutex>

#include "common/guarded_call.h"
#include "devicefw/devicefw_exports.h"

namespace devicefw::cf {
namespace {

struct PostedCall {
  void (*fn)(void*);
  void* context;
};

class RunLoop {
 public:
  void Post(PostedCall call) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(call);
    }
    wake_.notify_one();
  }

  void RequestStop() {
    {
      std::lock_guard lock(mutex_);
      ++stop_generation_;
    }
    wake_.notify_all();
  }

  // Runs posted calls until a stop is requested after entry.
  void Run() {
    std::unique_lock lock(mutex_);
    const uint64_t generation = stop_generation_;
    for (;;) {
      wake_.wait(lock, [&] { return stop_generation_ != generation || !queue_.empty(); });
      if (stop_generation_ != generation) return;
      const PostedCall call = queue_.front();
      queue_.pop_front();
      lock.unlock();
      call.fn(call.context);
      lock.lock();
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<PostedCall> queue_;
  uint64_t stop_generation_ = 0;
};

// Never destroyed: the MobileDevice library's threads may post while the process exits.
RunLoop& TheRunLoop() {
  static auto* loop = new RunLoop;
  return *loop;
}

}  // namespace
}  // namespace devicefw::cf

extern "C" {

void CFRunLoopRun(void) { devicefw::cf::TheRunLoop().Run(); }

int KorRunLoopPost(void (*fn)(void*), void* context) {
  if (fn == nullptr) return -1;
  return devicefw::GuardedCall(-1, [&] {
    devicefw::cf::TheRunLoop().Post({fn, context});
    return 0;
  });
}

void KorRunLoopStop(void) { devicefw::cf::TheRunLoop().RequestStop(); }

}  // extern "C"

static_assert(std::is_same_v<decltype(&CFRunLoopRun), CFRunLoopRunFn>);
static_assert(std::is_same_v<decltype(&KorRunLoopPost), KorRunLoopPostFn>);
static_assert(std::is_same_v<decltype(&KorRunLoopStop), KorRunLoopStopFn>);
