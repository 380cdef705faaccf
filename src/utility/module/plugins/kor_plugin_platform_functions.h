// The platform functions plug-ins call by name through "LIBMODEL_PLUGIN_COMMAND_RECEIVE".
#pragma once

#include "utility/module/plugins/kor_module_plugins.h"

// The largest result "LIBPLATFORM_DECOMPRESS_ZIP_STREAM" inflates to.
constexpr size_t kKorMaxPluginInflated = 64u * 1024 * 1024;

// Sends a plug-in's result as an intermediate message of the task it names, on the connection
// the task's command came in on; dropped (answering 6) when the task is gone or stopped.
int KorPluginSendResult(KSTObserveData* event);
// Sends the final reply of the task a plug-in names, from the record's {"code":N[,"info":V]}: on
// the task's connection, status from the code, the task ended. A stopped task gets code 6; a task
// that is gone or already had its final reply gets nothing (answering 6 when it is gone).
int KorPluginSendFinalResult(KSTObserveData* event);
// Inflates the record's zlib data into its output byte string; the result flag tells success.
int KorPluginDecompressZipStream(KSTObserveData* event);

// Every platform function by name.
KorModulePlugins::PlatformTable KorPluginPlatformFunctions();
