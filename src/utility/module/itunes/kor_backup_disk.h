// The disk work that backup-service messages ask for, confined to the backup folder: an item
// the device may not touch is refused, logged, and the rest go on.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "utility/module/itunes/kor_backup_paths.h"

// Creates the mapped folder with every missing parent.
void KorBackupCreateDirectory(const KorBackupPaths& paths, const std::string& device_path);
// Moves each source to its target when the target does not exist yet.
void KorBackupMoveItems(const KorBackupPaths& paths, const std::vector<std::pair<std::string, std::string>>& moves);
// Deletes each mapped path that is not a folder.
void KorBackupRemoveItems(const KorBackupPaths& paths, const std::vector<std::string>& device_paths);
// The bytes free to this user on the disk that holds the backup root; false when unknown.
bool KorBackupFreeSpace(const KorBackupPaths& paths, uint64_t* free_bytes);
// Logs a device path that was refused.
void KorLogRefusedPath(const char* operation, const std::string& device_path, const std::string& why);
