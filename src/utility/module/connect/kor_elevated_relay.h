// Commands 17 and 18 in the normal process: started, queued for and relayed to the elevated
// instance; the elevated instance's messages passed back to the front-end connection they name.
#pragma once

#include "ipc/ipc_packet.h"

constexpr int kKorConnectRelayBadJson = 51;
constexpr int kKorConnectNoElevatedChannel = 52;
constexpr int kKorConnectElevatedStartFailed = 53;

// Returns the reply code to send, or -1 when the relay answers through the elevated instance.
int KorRelayToElevated(const kst::IPCPacket* packet);
// A packet from the elevated instance (17 or 18): passes it to the front-end connection its token
// names; a final status also finishes the command's task here.
void KorPassElevatedReply(const kst::IPCPacket* packet);
// The start parameters of the elevated instance.
std::string KorElevatedStartParameters(int port, uint64_t task_id, const std::string& secret_file);
