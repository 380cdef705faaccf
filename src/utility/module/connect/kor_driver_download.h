// Command 16: downloads the three device-support packages and their checksum files from the base
// URL the front-end gives, into the driver folder, and reports the verified local paths.
#pragma once

#include <string>
#include <vector>

#include "ipc/ipc_packet.h"

constexpr int kKorConnectDownloadFailed = 50;

// The package paths appended to the base URL, in download order.
const std::vector<std::string>& KorDriverPackageNames();
// The driver folder: log folder + "/ios_driver/".
std::string KorDriverFolder();

// Runs the whole download for the command packet; sends progress and the stage-3 message and
// returns the result code (the caller sends the final reply).
int KorDownloadDrivers(const kst::IPCPacket* packet);
