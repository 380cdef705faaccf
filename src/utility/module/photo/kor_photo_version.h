// Comparing system versions such as "12.4" and "14" part by part, and the order in which the
// photo module tries the query functions of the supported versions for a device's version.
#pragma once

#include <string>
#include <vector>

// <0, 0 or >0: the leading integers decide; on equality both skip past their next "." and
// compare again; the text that runs out of "." first is the smaller.
int KorCompareDottedVersion(const std::string& a, const std::string& b);

// The supported major versions, ascending.
const std::vector<int>& KorPhotoSupportedVersions();

// Every supported version not above `version` in descending order, with the ones above it
// (ascending) right after the first: 12.4 gives 12, 13, 14, 11, ..., 4; 3.1 gives 4, ..., 14.
std::vector<int> KorPhotoTryOrder(const std::string& version);
