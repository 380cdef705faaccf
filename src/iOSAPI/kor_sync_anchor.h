// The computer anchor: a fresh text for every session, made from the local time and the zone.
#pragma once

#include <string>

#include "platform/kst_local_time.h"

// "YYYY-MM-DD hh:mm:ss +HH00" with the whole hours east of UTC; zones west of UTC write "-" and
// the absolute hours. Minutes of the offset are always 00 (the device treats the text as opaque).
std::string KorComputerAnchor(const KstLocalTime& local);
