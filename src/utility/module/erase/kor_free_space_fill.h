// Overwrites the free space of the media area: files of zeros in /iostemp, 8 MiB per write,
// 512 MiB per file in the first pass and 1 GiB in the second, then everything removed again.
#pragma once

#include "devicefw/device_framework_abi.h"
#include "utility/module/erase/kor_erase_task.h"

constexpr const char* kKorFillFolder = "/iostemp";
constexpr uint32_t kKorFillChunkBytes = 8388608;
constexpr uint32_t kKorFillChunksPerFilePass = 64;

// `level` asks for passes (at most two run); `free_bytes` is the device's free size.
KorEraseResult KorFillFreeSpace(AFCConnectionRef afc, int64_t level, int64_t free_bytes, const KorEraseTask& task);
