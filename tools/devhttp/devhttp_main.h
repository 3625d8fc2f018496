// The devhttp program: development HTTP services on one server.
//
//   devhttp [--host 127.0.0.1] [--port 0] [--crs-path /crs/] [--crs-root DIR]
//           [--crs-status 200] [--crs-stall-ms 0] [--crs-strict-paths 0|1]
//           [--content-path /content/] [--content-root DIR] [--log-requests 0|1]
//
// Prints "devhttp listening on http://HOST:PORT" once it serves, then (with
// --log-requests 1) "devhttp content GET <name>" for each package request,
// and runs until SIGINT or SIGTERM. Port 0 picks a free port. "--help" (or
// "-h") prints the usage and exits 0.
#pragma once

#include <string>
#include <vector>

namespace devhttp {

struct Options {
  std::string host = "127.0.0.1";
  int port = 0;
  std::string crs_path = "/crs/";
  std::string crs_root = "devhttp-crs";
  int crs_status = 200;
  int crs_stall_ms = 0;
  // On: the crash-report service refuses (400) request paths that are not
  // percent-encoded.
  bool crs_strict_paths = false;
  std::string content_path = "/content/";
  std::string content_root = "devhttp-content";
  // Off by default: a parent that reads only the first line through a pipe
  // would otherwise stall the server once the pipe is full.
  bool log_requests = false;
};

// Parses the arguments (without the program name). False with a message in
// *error for an unknown option, a missing value or a bad number.
bool ParseOptions(const std::vector<std::string>& args, Options* out, std::string* error);

int DevHttpMain(int argc, char** argv);

}  // namespace devhttp
