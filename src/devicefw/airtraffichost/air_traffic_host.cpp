// The host library that the loader loads before the MobileDevice library. Tandrel calls none of
// its functions; it exists so that the loader finds the same set of libraries as on Windows.
#include "devicefw/devicefw_exports.h"

extern "C" const char* ATHostVersion(void) { return "Tandrel AirTrafficHost 1.0"; }

static_assert(std::is_same_v<decltype(&ATHostVersion), ATHostVersionFn>);
