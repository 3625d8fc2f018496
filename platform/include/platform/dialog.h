// The face of the main dialog that is not window messages: message boxes,
// the title, the console command entry and its result list, and the
// requests to close the dialog that come from outside (the system's stop
// signals, the end of console input).
//
// On POSIX the dialog has no screen. A message box is written to stderr and
// counts as answered with OK; the console edit box and its "Go" button are
// lines read from standard input; the result list is standard output.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Answers of a message box and modal results of a dialog (Win32 values).
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdAbort = 3;

// Shows text with an OK button and answers the button pressed. On POSIX:
// one line "ServerApp: <text>" on stderr (or into the sink below), kIdOk.
int ShowMessageBox(std::string_view text);

// Sets the dialog's caption. On POSIX the title is kept for DialogTitle and
// the process name becomes its first 15 bytes (what `ps -o comm` shows).
// Never fails visibly.
void SetDialogTitle(std::string_view title);

// The caption last set, "ServerApp" before any call (the template's).
std::string DialogTitle();

// The command line as the title shows it: the program's arguments without
// the program name. On Windows the text the process was started with
// (GetCommandLineA after the program name, quotes and spacing as given); on
// POSIX, where only the argument vector exists, `args` joined by spaces.
std::string CommandLineText(const std::vector<std::string>& args);

// Result list: appends one line (stdout on POSIX, flushed at once), and
// empties the list (nothing to do on a terminal).
void AppendResultLine(std::string_view line);
void ClearResultLines();

// Tests capture message boxes and result lines through these sinks; an
// empty function restores stderr / stdout.
using DialogTextSink = std::function<void(std::string_view)>;
void SetMessageBoxSink(DialogTextSink sink);
void SetResultLineSink(DialogTextSink sink);

// True when console lines are to be read: standard input is a terminal, or
// the environment variable SERVERAPP_CONSOLE is "1".
bool ConsoleInputEnabled();

// Feeds the dialog from outside. Each callback runs on a thread of its own
// (never inside a signal handler); the owner hands the work on to its window
// thread.
struct DialogFeedHandlers {
  std::function<void(const std::string& line)> on_console_line;  // one line, without its end
  std::function<void()> on_console_end;                          // end of standard input: as Cancel
  std::function<void()> on_terminate;                            // SIGTERM: as OK
  std::function<void()> on_interrupt;                            // SIGINT: as Cancel
};

// Watches the stop signals (always) and standard input (when
// ConsoleInputEnabled()). Answers null when the watcher cannot be started;
// the dialog then simply runs without them. Destroying it stops watching
// and restores the signals' previous handling.
class DialogFeed {
 public:
  virtual ~DialogFeed() = default;
};
std::unique_ptr<DialogFeed> StartDialogFeed(DialogFeedHandlers handlers);

}  // namespace platform
