// Erasing the user's content: the media folders emptied (each folder stays), then every user
// application uninstalled.
#pragma once

#include "devicefw/device_framework_abi.h"
#include "iOSAPI/kor_service_message.h"
#include "utility/module/erase/kor_erase_task.h"

// Empties the media folders, reporting each folder's progress (stage 0) before it and 100 after.
void KorEmptyMediaFolders(AFCConnectionRef afc, const KorEraseTask& task);
// Lists the user applications and uninstalls each, reporting (index × 100) / total at stage 2.
// Returns the number of uninstall requests sent.
size_t KorUninstallUserApps(const KorServiceIo& installer, const KorEraseTask& task);
