// Deleting photo files by name on the attached devices: each device's /DCIM tree is walked
// through AFC, folders are walked into and never deleted, and every file whose name contains the
// given text (bytes compared exactly) is removed.
#pragma once

#include <string>

#include "devicefw/device_framework_abi.h"

// Walks the attached devices in order until one walk deleted something; true then. An empty
// name matches nothing.
bool KorDeletePhotosByName(const std::string& name);

// The walk of one device's folder; true when at least one file was deleted.
bool KorDeleteMatchingFiles(AFCConnectionRef afc, const std::string& folder, const std::string& name);
