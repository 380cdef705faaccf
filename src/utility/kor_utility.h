// The finish functions of the package and the event that wrap every command task.
#pragma once

#include <memory>

class QrTask;

void DoPackageFinish(std::shared_ptr<QrTask> package);
void DoEventFinish(std::shared_ptr<QrTask> event);
