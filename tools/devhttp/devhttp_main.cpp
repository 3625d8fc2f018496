#include "devhttp_main.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>

#include "content_service.h"
#include "crash_service.h"
#include "dev_server.h"

namespace devhttp {
namespace {

bool ToNumber(const std::string& text, int low, int high, int* out) {
  if (text.empty() || text.size() > 9) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return false;
  *out = value;
  return true;
}

constexpr char kUsage[] =
    "usage: devhttp [--host 127.0.0.1] [--port 0] [--crs-path /crs/] [--crs-root DIR]\n"
    "               [--crs-status 200] [--crs-stall-ms 0] [--crs-strict-paths 0|1]\n"
    "               [--content-path /content/] [--content-root DIR] [--log-requests 0|1]\n"
    "Serves until SIGINT or SIGTERM; port 0 picks a free port.\n";

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options* out, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (i + 1 >= args.size()) {
      *error = "missing value for " + name;
      return false;
    }
    const std::string& value = args[++i];
    bool ok = true;
    if (name == "--host") {
      out->host = value;
    } else if (name == "--port") {
      ok = ToNumber(value, 0, 65535, &out->port);
    } else if (name == "--crs-path") {
      ok = !value.empty() && value.front() == '/';
      out->crs_path = value;
    } else if (name == "--crs-root") {
      ok = !value.empty();
      out->crs_root = value;
    } else if (name == "--crs-status") {
      ok = ToNumber(value, 100, 599, &out->crs_status);
    } else if (name == "--content-path") {
      ok = !value.empty() && value.front() == '/';
      out->content_path = value;
    } else if (name == "--content-root") {
      ok = !value.empty();
      out->content_root = value;
    } else if (name == "--crs-stall-ms") {
      ok = ToNumber(value, 0, 3600000, &out->crs_stall_ms);
    } else if (name == "--crs-strict-paths") {
      int on = 0;
      ok = ToNumber(value, 0, 1, &on);
      out->crs_strict_paths = on == 1;
    } else if (name == "--log-requests") {
      int on = 0;
      ok = ToNumber(value, 0, 1, &on);
      out->log_requests = on == 1;
    } else {
      *error = "unknown option " + name;
      return false;
    }
    if (!ok) {
      *error = "bad value for " + name + ": " + value;
      return false;
    }
  }
  return true;
}

int DevHttpMain(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // Looked for before the options are read, as every option takes a value.
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  Options options;
  std::string error;
  if (!ParseOptions(args, &options, &error)) {
    std::fprintf(stderr, "devhttp: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  // Wait for SIGINT/SIGTERM on this thread; the server threads never see them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  CrashService crs(options.crs_path, options.crs_root);
  crs.SetStatus(options.crs_status);
  crs.SetStallMilliseconds(options.crs_stall_ms);
  crs.SetStrictPaths(options.crs_strict_paths);
  DevServer server;
  crs.Register(server.server());
  ContentService content(options.content_path, options.content_root);
  content.Register(server.server());
  // One line per package request: a test that runs devhttp as a separate
  // process (a Windows test under Wine) sees from it what reached the
  // server. Control characters of a hostile name are shown as '?', so that
  // each request stays one line.
  if (options.log_requests) {
    content.SetRequestHook([](const std::string& name) {
      std::string shown = name;
      for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
      }
      std::printf("devhttp content GET %s\n", shown.c_str());
      std::fflush(stdout);
    });
  }
  int port = server.Start(options.host, options.port);
  if (port < 0) {
    std::fprintf(stderr, "devhttp: cannot listen on %s:%d\n", options.host.c_str(), options.port);
    return 1;
  }
  std::printf("devhttp listening on http://%s:%d\n", options.host.c_str(), port);
  std::fflush(stdout);
  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  crs.ReleaseStalls();
  content.ReleaseStalls();
  server.Stop();
  return 0;
}

}  // namespace devhttp
