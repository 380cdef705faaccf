// A front-end's side of the staged download (command 702): opens the device file, asks for its
// blocks with several requests in flight, and writes each block at its offset in a local file.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "frontend_link.h"

namespace frontend {

enum class DownloadOutcome {
  kDone,            // every block written and the final reply said 0
  kRefused,         // Tandrel ended the task with a failure; see `code`
  kLinkLost,        // no answer within the timeout, or the link went away
  kBadDescription,  // the opening reply's description has no usable block plan
  kWriteFailed,     // the local file could not be written
};

struct DownloadReport {
  DownloadOutcome outcome = DownloadOutcome::kLinkLost;
  int64_t code = 0;    // the final reply's code
  uint64_t bytes = 0;  // block bytes written
  uint64_t size = 0;   // the file's size from its description
};

struct DownloadRequest {
  uint64_t task = 0;
  std::string device_path;
  // The command JSON for members such as "stage" (the inside of an object): {"uuid","code",...}.
  std::function<std::string(const std::string& members)> command_json;
  // Block requests in flight. Two keep Tandrel sending while the front-end writes a block; more
  // only queue more blocks in memory on both sides.
  size_t window = 2;
  std::chrono::milliseconds timeout{std::chrono::seconds(60)};
  // Called after each block with the bytes written so far and the file's size.
  std::function<void(uint64_t done, uint64_t size)> progress;
};

DownloadReport RunStagedDownload(Link& link, const DownloadRequest& request, std::FILE* out);

}  // namespace frontend
