// The dialog without a screen: stderr, stdout, stdin and the stop signals.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/dialog.h"

namespace platform {
namespace {

std::mutex g_mutex;
std::string g_title = "ServerApp";
DialogTextSink g_box_sink;
DialogTextSink g_line_sink;

// Longest console line kept; the rest of a longer line is dropped (the
// dialog's edit box holds far less).
constexpr size_t kMaxConsoleLine = 4096;

// Write end of the pipe that the signal handler reports into; -1 when no
// feed is running.
std::atomic<int> g_signal_fd{-1};

void OnStopSignal(int signo) {
  int fd = g_signal_fd.load();
  if (fd < 0) return;
  int saved = errno;
  char code = signo == SIGTERM ? 'T' : 'I';
  ssize_t ignored = write(fd, &code, 1);
  (void)ignored;
  errno = saved;
}

class PosixDialogFeed final : public DialogFeed {
 public:
  PosixDialogFeed(DialogFeedHandlers handlers, int signal_pipe[2], int stop_pipe[2], bool console)
      : handlers_(std::move(handlers)), console_(console) {
    signal_read_ = signal_pipe[0];
    signal_write_ = signal_pipe[1];
    stop_read_ = stop_pipe[0];
    stop_write_ = stop_pipe[1];
    g_signal_fd.store(signal_write_);
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, &old_term_);
    sigaction(SIGINT, &sa, &old_int_);
    thread_ = std::thread([this] { Watch(); });
  }

  ~PosixDialogFeed() override {
    sigaction(SIGTERM, &old_term_, nullptr);
    sigaction(SIGINT, &old_int_, nullptr);
    g_signal_fd.store(-1);
    char code = 'S';
    ssize_t ignored = write(stop_write_, &code, 1);
    (void)ignored;
    thread_.join();
    for (int fd : {signal_read_, signal_write_, stop_read_, stop_write_}) close(fd);
  }

 private:
  void Watch() {
    std::string line;
    bool dropping = false;
    for (;;) {
      pollfd fds[3] = {{stop_read_, POLLIN, 0}, {signal_read_, POLLIN, 0}, {0, POLLIN, 0}};
      nfds_t count = console_ ? 3 : 2;
      if (poll(fds, count, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[0].revents != 0) return;
      if (fds[1].revents & POLLIN) {
        char code = 0;
        if (read(signal_read_, &code, 1) == 1) {
          if (code == 'T' && handlers_.on_terminate) handlers_.on_terminate();
          if (code == 'I' && handlers_.on_interrupt) handlers_.on_interrupt();
        }
      }
      if (console_ && fds[2].revents != 0) {
        char buffer[512];
        ssize_t n = read(0, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          console_ = false;
          if (!line.empty() && handlers_.on_console_line) handlers_.on_console_line(line);
          if (handlers_.on_console_end) handlers_.on_console_end();
          continue;
        }
        for (ssize_t i = 0; i < n; ++i) {
          char c = buffer[i];
          if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (handlers_.on_console_line) handlers_.on_console_line(line);
            line.clear();
            dropping = false;
          } else if (!dropping) {
            line.push_back(c);
            if (line.size() >= kMaxConsoleLine) dropping = true;
          }
        }
      }
    }
  }

  DialogFeedHandlers handlers_;
  bool console_;
  int signal_read_ = -1, signal_write_ = -1, stop_read_ = -1, stop_write_ = -1;
  struct sigaction old_term_ {};
  struct sigaction old_int_ {};
  std::thread thread_;
};

}  // namespace

int ShowMessageBox(std::string_view text) {
  DialogTextSink sink;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    sink = g_box_sink;
  }
  if (sink) {
    sink(text);
  } else {
    std::fprintf(stderr, "ServerApp: %.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
  }
  return kIdOk;
}

void SetDialogTitle(std::string_view title) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_title.assign(title);
  }
  char name[16] = {};
  std::memcpy(name, title.data(), title.size() < 15 ? title.size() : 15);
  prctl(PR_SET_NAME, name, 0, 0, 0);
}

std::string DialogTitle() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_title;
}

std::string CommandLineText(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& arg : args) {
    if (!line.empty()) line += ' ';
    line += arg;
  }
  return line;
}

void AppendResultLine(std::string_view line) {
  DialogTextSink sink;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    sink = g_line_sink;
  }
  if (sink) {
    sink(line);
    return;
  }
  std::fprintf(stdout, "%.*s\n", static_cast<int>(line.size()), line.data());
  std::fflush(stdout);
}

void ClearResultLines() {}

void SetMessageBoxSink(DialogTextSink sink) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_box_sink = std::move(sink);
}

void SetResultLineSink(DialogTextSink sink) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_line_sink = std::move(sink);
}

bool ConsoleInputEnabled() {
  const char* env = std::getenv("SERVERAPP_CONSOLE");
  if (env != nullptr && std::strcmp(env, "1") == 0) return true;
  return isatty(0) == 1;
}

std::unique_ptr<DialogFeed> StartDialogFeed(DialogFeedHandlers handlers) {
  if (g_signal_fd.load() >= 0) return nullptr;  // one feed per process
  int signal_pipe[2];
  int stop_pipe[2];
  if (pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
  if (pipe2(stop_pipe, O_CLOEXEC) != 0) {
    close(signal_pipe[0]);
    close(signal_pipe[1]);
    return nullptr;
  }
  return std::make_unique<PosixDialogFeed>(std::move(handlers), signal_pipe, stop_pipe,
                                           ConsoleInputEnabled());
}

}  // namespace platform
