// Voice recordings (1002, group 1002).
#pragma once

#include "utility/module/media/kor_media_command.h"

// Returns the command's result code; the module sends the final reply.
int KorListRecordings(const KorMediaCommand& command);
