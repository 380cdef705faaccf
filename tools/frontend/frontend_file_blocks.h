// The block plan and block requests of the staged file transfers, as a front-end uses them.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <map>
#include <string>

namespace frontend {

struct FileBlock {
  int64_t id = 0;
  uint64_t offset = 0;
  uint64_t length = 0;
};

struct Message;

// The file description of a download's opening message: its "info", or its (inflated) attachment
// when the info is {"description":"attachment"} (a large file's plan outgrows the message text).
bool OpeningDescription(const Message& opened, rapidjson::Document* description);
// The blocks of a file description's "fbs", in block-number order; malformed entries are left out.
std::map<int64_t, FileBlock> FileBlockPlan(const rapidjson::Value& description);
// {"id":N,"offset_length":L,"offset":O}
std::string FileBlockJson(const FileBlock& block);
bool ParseFileBlock(const rapidjson::Value& json, FileBlock* block);

}  // namespace frontend
