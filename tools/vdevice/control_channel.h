// The control channel of a running `vdevice serve`: one request per connection, a line of JSON
// {"args": ["attach", "DIR"]} answered by a line {"status": 0, "message": "..."}.
// Its address is derived from the usbmuxd address: "UNIX:/p" -> "UNIX:/p.ctl",
// "HOST:PORT" -> "HOST:PORT+1".
#pragma once

#include <string>
#include <vector>

#include "platform/kst_socket.h"

namespace vdevice {

// False when `mux_address` is not an address libusbmuxd would accept.
bool DeriveControlAddress(const std::string& mux_address, std::string* control_address);

std::string EncodeControlRequest(const std::vector<std::string>& args);
bool DecodeControlRequest(const std::string& line, std::vector<std::string>* args, std::string* error);
std::string EncodeControlReply(int status, const std::string& message);
bool DecodeControlReply(const std::string& line, int* status, std::string* message);

// Sends one request and waits for its reply (up to timeout_ms). Returns the reply's status,
// or -1 with *message explaining why no reply came.
int SendControlRequest(const std::string& control_address, const std::vector<std::string>& args,
                       int timeout_ms, std::string* message);

// Reads one line (without its newline) of at most max_bytes; false on time-out, close or overflow.
bool ReadControlLine(const kst::KstSocket& socket, size_t max_bytes, int timeout_ms, std::string* line);

}  // namespace vdevice
