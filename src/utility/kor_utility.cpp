#include "utility/kor_utility.h"

#include "platform/kst_log.h"
#include "platform/qr_task.h"

void DoPackageFinish(std::shared_ptr<QrTask> package) {
  KLOG(INFO) << "DoPackageFinish: " << package->GetTaskId();
  QrTask::NotifySchedular(package, kQrTaskStatusFinished);
}

void DoEventFinish(std::shared_ptr<QrTask> event) {
  KLOG(INFO) << "DoEventFinish: " << event->GetTaskId();
  QrTask::NotifySchedular(event, kQrTaskStatusFinished);
}
