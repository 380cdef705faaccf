#include "platform/kst_utility_file.h"

#include "platform/kst_fs.h"

int64_t KSTUtilityFile::GetFileSize(const std::string& path) { return kst::FileSize(path); }
