// The device's bookmarks as a tree: a record is placed under the folder its "parent" names;
// records whose parent is not among them form the top level. Children follow their "position".
#pragma once

#include <rapidjson/document.h>

#include <vector>

#include "iOSAPI/kor_sync_records.h"

// Deeper levels than this are left out (a device's tree is a few levels deep).
constexpr int kKorBookmarkMaxDepth = 64;

// An array of the top-level nodes, each {"id","name","url","com_apple_syncservices_RecordEntityName",
// "position","children"} with its whole subtree.
rapidjson::Document KorBookmarkTree(const std::vector<KorSyncRecord>& records);
