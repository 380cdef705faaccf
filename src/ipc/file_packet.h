// Files moved block by block over the front-end link: the file description, the block plan and
// the block messages that reader and writer share.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

constexpr uint64_t kFilePacketBlockSize = 2097152;
// A plan with more blocks than this is refused (a 2 MiB plan of this size covers 2 TiB).
constexpr size_t kFilePacketMaxBlocks = 1u << 20;

// File-packet states.
constexpr int kFilePacketFailed = 0;
constexpr int kFilePacketBadDescription = 1;  // writer open: the description is not a usable one
constexpr int kFilePacketCannotCreate = 2;
constexpr int kFilePacketReady = 3;

struct FilePacketBlock {
  int64_t number = 0;
  uint64_t offset = 0;
  uint64_t length = 0;
  uint64_t received = 0;  // writer: bytes written into this block so far
  bool written = false;   // in memory only; descriptions always carry status 0
};

// Blocks by the decimal text of their number, so requests follow text order ("1", "10", "2").
using FilePacketPlan = std::map<std::string, FilePacketBlock>;

// {"id": block number, "offset": byte offset, "offset_length": byte count}
struct FileBlockMessage {
  int64_t id = 0;
  uint64_t offset = 0;
  uint64_t offset_length = 0;
};

// Reads a block message from a JSON object; false when a member is missing or negative.
bool ParseFileBlockMessage(const rapidjson::Value& object, FileBlockMessage* out);
// Writes "id", "offset_length", "offset" in that order.
std::string FileBlockMessageJson(const FileBlockMessage& message);

// Blocks of `block_size` covering `size` bytes, numbered from 1.
FilePacketPlan PlanBlocks(uint64_t size, uint64_t block_size);
// Reads "fbs" of a description; false when it is missing, malformed or does not fit `size`.
bool ParsePlan(const rapidjson::Value& description, uint64_t size, FilePacketPlan* plan);

struct FileDescription {
  std::string version = "1";
  std::string type;
  std::string file_name;
  std::string path;
  std::string path_source;
  std::string path_project;
  std::string md5;
  uint64_t size = 0;
};

// Builds the description JSON: version, optional texts, md5, size, status 0 and fbs (status 0).
rapidjson::Document DescriptionJson(const FileDescription& description, const FilePacketPlan& plan);
bool ParseDescription(const rapidjson::Value& json, FileDescription* description);
