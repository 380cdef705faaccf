// The host process from start-up to shutdown.
#pragma once

#include <string>

// Runs the whole program with the start-parameter text; returns the exit code.
int KorRunApplication(const std::string& command_line);
