// Apple reference-date timestamps of the messages database as local time text.
#pragma once

#include <cstdint>
#include <string>

// "%.4d-%.2d-%.2d %.2d:%.2d:%.2d" in local time for a count since 2001-01-01 00:00:00 UTC: seconds
// when that lies before 3001, else nanoseconds; empty when even nanoseconds lie beyond 3000.
// Negative values count as 0.
std::string KorAppleDateString(int64_t raw);
