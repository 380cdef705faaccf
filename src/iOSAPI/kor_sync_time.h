// Times in synchronisation records: the device writes UTC texts "YYYY-MM-DDThh:mm:ssZ", the
// front-end gets them in local time, and host records carry the current UTC time.
#pragma once

#include <string>

// A device time text "YYYY-MM-DDThh:mm:ssZ" as local "YYYY-MM-DD hh:mm:ss"; empty when it has
// that form but is no valid time. Other texts come back unchanged.
std::string KorLocalTimeText(const std::string& text);
// A received time in local time; empty for a text that is no valid device time.
std::string KorDeviceTimeAsLocal(const std::string& text);
// True when the text has the form of a device time (valid or not).
bool KorIsDeviceTimeText(const std::string& text);
// The current time as a device time text.
std::string KorUtcNowText();
