// One line per event on stderr, so that a test's captured output tells what the device saw.
#pragma once

namespace vdevice {

// Always printed: rejected input, failures, state changes.
void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Printed only with --verbose: every request and reply.
void LogDetail(const char* format, ...) __attribute__((format(printf, 1, 2)));
void SetVerbose(bool on);

}  // namespace vdevice
