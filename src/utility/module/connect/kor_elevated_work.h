// Commands 17 and 18 in the elevated instance: installing the packages with the Windows installer
// command line and asking "wmic" for the store edition of iTunes. Every message carries stage 2
// and the connection token in "code".
#pragma once

#include "ipc/ipc_packet.h"

constexpr int kKorConnectInstallFailed = 51;
constexpr int kKorConnectNoStoreITunes = 54;

int KorInstallDrivers(const kst::IPCPacket* packet);
int KorCheckStoreITunes(const kst::IPCPacket* packet);
