// The main dialog on Win32: template 102 of the executable, made modeless
// and run by the window's own modal loop (window_win32.cpp), as the dialog
// framework's DoModal does; message boxes, the caption, the console edit
// box with its "Go" button and the result list box; and the stop requests
// that reach the process from outside.
#include <process.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/dialog.h"
#include "stop_request_win32.h"
#include "window_win32.h"

namespace platform {
namespace win32 {
namespace {

// Resource ids of host/serverapp/win32/resource.h.
constexpr int kDialogTemplate = 102;
constexpr int kMainIcon = 128;
constexpr int kStartButton = 1001;
constexpr int kConsoleEdit = 1002;
constexpr int kGoButton = 1003;
constexpr int kResultList = 1006;

// The edit box's text is read into a 260-byte buffer by the dialog.
constexpr int kConsoleBuffer = 260;
// Longest console line kept from standard input, as on POSIX.
constexpr size_t kMaxConsoleLine = 4096;

std::mutex g_mutex;
std::string g_title = "ServerApp";
DialogTextSink g_box_sink;
DialogTextSink g_line_sink;
WindowImpl* g_main = nullptr;  // the main dialog, while it exists
HICON g_icon_big = nullptr;
HICON g_icon_small = nullptr;

// The handlers of the running feed; shared with its threads, which may
// outlive the feed object while blocked in a read.
struct FeedState {
  std::mutex mutex;
  bool stopped = false;
  DialogFeedHandlers handlers;
  HANDLE finished = nullptr;  // set when the feed is destroyed

  FeedState() = default;
  FeedState(const FeedState&) = delete;
  FeedState& operator=(const FeedState&) = delete;
  ~FeedState() {
    if (finished) CloseHandle(finished);
  }
};
std::shared_ptr<FeedState> g_feed;  // under g_mutex

std::shared_ptr<FeedState> CurrentFeed() {
  std::lock_guard lock(g_mutex);
  return g_feed;
}

// Runs one handler of the feed unless the feed has been destroyed; the
// feed's destructor waits for a call in progress.
void Feed(const std::shared_ptr<FeedState>& state,
          const std::function<void(const DialogFeedHandlers&)>& call) {
  if (!state) return;
  std::lock_guard lock(state->mutex);
  if (!state->stopped) call(state->handlers);
}

HWND MainDialogWindow() {
  std::lock_guard lock(g_mutex);
  return g_main ? g_main->hwnd() : nullptr;
}

// On the dialog's own thread at once, from any other thread through the
// dialog's loop: a handler that holds a lock the window thread waits for
// must not block on the list box.
void OnDialogThread(std::function<void(HWND)> fn) {
  std::unique_lock lock(g_mutex);
  if (g_main == nullptr) return;
  const HWND hwnd = g_main->hwnd();
  if (GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId()) {
    lock.unlock();
    fn(hwnd);
    return;
  }
  g_main->Invoke([fn = std::move(fn)] {
    if (HWND now = MainDialogWindow()) fn(now);
  });
}

void WriteStd(FILE* stream, const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

bool StdHandleUsable(DWORD which) {
  const HANDLE h = GetStdHandle(which);
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_UNKNOWN;
}

void OnGo(HWND dialog) {
  char text[kConsoleBuffer] = {};
  GetDlgItemTextA(dialog, kConsoleEdit, text, kConsoleBuffer);
  const std::string line(text);
  Feed(CurrentFeed(), [&](const DialogFeedHandlers& h) {
    if (h.on_console_line) h.on_console_line(line);
  });
}

INT_PTR CALLBACK MainDialogProc(HWND hwnd, UINT msg, WPARAM w_param, LPARAM l_param) {
  if (msg == WM_INITDIALOG) {
    reinterpret_cast<WindowImpl*>(l_param)->Attach(hwnd, true);
    const HINSTANCE exe = GetModuleHandleW(nullptr);
    g_icon_big =
        static_cast<HICON>(LoadImageW(exe, MAKEINTRESOURCEW(kMainIcon), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    g_icon_small = static_cast<HICON>(LoadImageW(exe, MAKEINTRESOURCEW(kMainIcon), IMAGE_ICON,
                                                 GetSystemMetrics(SM_CXSMICON),
                                                 GetSystemMetrics(SM_CYSMICON), 0));
    if (g_icon_big) SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(g_icon_big));
    if (g_icon_small) {
      SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(g_icon_small));
    }
    std::string title;
    {
      std::lock_guard lock(g_mutex);
      title = g_title;
    }
    SetWindowTextA(hwnd, title.c_str());
    return TRUE;
  }
  WindowImpl* window = WindowImpl::FromWindow(hwnd);
  if (window == nullptr) return FALSE;
  switch (msg) {
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(g_icon_big);
    case WM_COMMAND:
      if (HIWORD(w_param) != BN_CLICKED) return FALSE;
      switch (LOWORD(w_param)) {
        case kGoButton:
          OnGo(hwnd);
          return TRUE;
        case IDOK:
          window->End(kIdOk);
          return TRUE;
        case IDCANCEL:  // Esc
          window->End(kIdCancel);
          return TRUE;
        case kStartButton:  // has no handler
        default:
          return FALSE;
      }
    case WM_CLOSE:
      // The close box (and taskkill without /F, which sends the same):
      // Cancel, as the dialog framework answers it.
      window->End(kIdCancel);
      return TRUE;
    case WM_ENDSESSION: {
      // The session ends: as SIGTERM on POSIX, the dialog ends as its OK
      // button would, through the feed when one runs.
      if (w_param == FALSE) return FALSE;
      bool handled = false;
      Feed(CurrentFeed(), [&](const DialogFeedHandlers& h) {
        if (h.on_terminate) {
          h.on_terminate();
          handled = true;
        }
      });
      if (!handled) window->End(kIdOk);
      return TRUE;
    }
    default:
      break;
  }
  LRESULT result = 0;
  if (window->HandleMessage(msg, w_param, l_param, &result)) {
    SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

bool CreateMainDialog(WindowImpl* window, std::string* error) {
  error->clear();
  const HINSTANCE exe = GetModuleHandleW(nullptr);
  if (FindResourceW(exe, MAKEINTRESOURCEW(kDialogTemplate), MAKEINTRESOURCEW(5) /* RT_DIALOG */) ==
      nullptr) {
    return false;  // not the host's executable (tests, gsmsim): a plain window
  }
  {
    std::lock_guard lock(g_mutex);
    if (g_main != nullptr) return false;  // one main dialog; others are plain windows
  }
  const HWND hwnd = CreateDialogParamW(exe, MAKEINTRESOURCEW(kDialogTemplate), nullptr,
                                       MainDialogProc, reinterpret_cast<LPARAM>(window));
  if (hwnd == nullptr) {
    *error = "cannot create the main dialog: " + ErrorText(GetLastError());
    return false;
  }
  std::lock_guard lock(g_mutex);
  g_main = window;
  return true;
}

void MainDialogDestroyed(WindowImpl* window) {
  std::lock_guard lock(g_mutex);
  if (g_main == window) g_main = nullptr;
}

namespace {

class Win32DialogFeed final : public DialogFeed {
 public:
  Win32DialogFeed(std::shared_ptr<FeedState> state, HANDLE terminate, HANDLE interrupt, HANDLE quit,
                  bool console)
      : state_(std::move(state)), terminate_(terminate), interrupt_(interrupt), quit_(quit) {
    watcher_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WatchThunk, this, 0, nullptr));
    if (console) {
      // The reader holds its own reference: a read blocked in ReadFile may
      // outlive this object.
      auto* copy = new std::shared_ptr<FeedState>(state_);
      reader_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ReadThunk, copy, 0, nullptr));
      if (reader_ == nullptr) delete copy;
    }
    SetConsoleCtrlHandler(&Win32DialogFeed::OnConsoleControl, TRUE);
  }

  ~Win32DialogFeed() override {
    SetConsoleCtrlHandler(&Win32DialogFeed::OnConsoleControl, FALSE);
    {
      std::lock_guard lock(state_->mutex);  // waits for a handler in progress
      state_->stopped = true;
    }
    SetEvent(quit_);
    if (watcher_) {
      WaitForSingleObject(watcher_, INFINITE);
      CloseHandle(watcher_);
    }
    if (reader_) {
      // Ends a read in progress where the system can; a reader that stays
      // blocked finds the feed stopped and calls nothing.
      CancelSynchronousIo(reader_);
      WaitForSingleObject(reader_, 200);
      CloseHandle(reader_);
    }
    SetEvent(state_->finished);
    {
      std::lock_guard lock(g_mutex);
      if (g_feed == state_) g_feed.reset();
    }
    CloseHandle(terminate_);
    CloseHandle(interrupt_);
    CloseHandle(quit_);
  }

 private:
  static unsigned __stdcall WatchThunk(void* self) {
    static_cast<Win32DialogFeed*>(self)->WatchEvents();
    return 0;
  }
  static unsigned __stdcall ReadThunk(void* state) {
    ReadStdin(static_cast<std::shared_ptr<FeedState>*>(state));
    return 0;
  }

  // The stop requests of Process::Terminate and Process::Interrupt.
  void WatchEvents() {
    const HANDLE events[3] = {quit_, terminate_, interrupt_};
    for (;;) {
      const DWORD which = WaitForMultipleObjects(3, events, FALSE, INFINITE);
      if (which == WAIT_OBJECT_0 + 1) {
        ResetEvent(terminate_);
        Feed(state_, [](const DialogFeedHandlers& h) {
          if (h.on_terminate) h.on_terminate();
        });
      } else if (which == WAIT_OBJECT_0 + 2) {
        ResetEvent(interrupt_);
        Feed(state_, [](const DialogFeedHandlers& h) {
          if (h.on_interrupt) h.on_interrupt();
        });
      } else {
        return;  // quit, or the wait failed
      }
    }
  }

  // Console lines from standard input, cut as on POSIX.
  static void ReadStdin(std::shared_ptr<FeedState>* owned) {
    std::unique_ptr<std::shared_ptr<FeedState>> holder(owned);
    const std::shared_ptr<FeedState> state = *owned;
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    std::string line;
    bool dropping = false;
    for (;;) {
      char buffer[512];
      DWORD n = 0;
      if (!ReadFile(in, buffer, sizeof(buffer), &n, nullptr) || n == 0) break;
      for (DWORD i = 0; i < n; ++i) {
        const char c = buffer[i];
        if (c == '\n') {
          if (!line.empty() && line.back() == '\r') line.pop_back();
          Feed(state, [&](const DialogFeedHandlers& h) {
            if (h.on_console_line) h.on_console_line(line);
          });
          line.clear();
          dropping = false;
        } else if (!dropping) {
          line.push_back(c);
          if (line.size() >= kMaxConsoleLine) dropping = true;
        }
      }
    }
    Feed(state, [&](const DialogFeedHandlers& h) {
      if (!line.empty() && h.on_console_line) h.on_console_line(line);
      if (h.on_console_end) h.on_console_end();
    });
  }

  // Ctrl-C and Ctrl-Break as SIGINT; closing the console, logging off and
  // shutting down as SIGTERM. The system runs this on a thread of its own.
  static BOOL WINAPI OnConsoleControl(DWORD type) {
    const std::shared_ptr<FeedState> state = CurrentFeed();
    if (!state) return FALSE;
    const bool interrupt = type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT;
    Feed(state, [interrupt](const DialogFeedHandlers& h) {
      if (interrupt && h.on_interrupt) h.on_interrupt();
      if (!interrupt && h.on_terminate) h.on_terminate();
    });
    // The process ends when this returns from a close, log-off or
    // shut-down event: give the shutdown the few seconds the system allows.
    if (!interrupt) WaitForSingleObject(state->finished, 4500);
    return TRUE;
  }

  std::shared_ptr<FeedState> state_;
  HANDLE terminate_;
  HANDLE interrupt_;
  HANDLE quit_;
  HANDLE watcher_ = nullptr;
  HANDLE reader_ = nullptr;
};

}  // namespace
}  // namespace win32

int ShowMessageBox(std::string_view text) {
  DialogTextSink sink;
  {
    std::lock_guard lock(win32::g_mutex);
    sink = win32::g_box_sink;
  }
  if (sink) {
    sink(text);
    return kIdOk;
  }
  const std::string line(text);
  // Unattended runs (tests, CI under Wine with no display) cannot press OK:
  // with SERVERAPP_MESSAGEBOX=stderr the box is a line on stderr, as on
  // POSIX, answered with OK.
  const char* mode = std::getenv("SERVERAPP_MESSAGEBOX");
  if (mode != nullptr && std::strcmp(mode, "stderr") == 0) {
    win32::WriteStd(stderr, "ServerApp: " + line);
    return kIdOk;
  }
  const int answer = MessageBoxA(win32::MainDialogWindow(), line.c_str(), "ServerApp",
                                 MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
  return answer == 0 ? kIdOk : answer;
}

void SetDialogTitle(std::string_view title) {
  std::string text(title);
  {
    std::lock_guard lock(win32::g_mutex);
    win32::g_title = text;
  }
  win32::OnDialogThread([text](HWND hwnd) { SetWindowTextA(hwnd, text.c_str()); });
}

std::string DialogTitle() {
  std::lock_guard lock(win32::g_mutex);
  return win32::g_title;
}

std::string CommandLineText(const std::vector<std::string>&) {
  // The program name ends at its closing quote when it starts with one,
  // else at the first blank, as the C runtime splits it; the blanks after
  // it are not part of the arguments.
  const char* p = GetCommandLineA();
  if (p == nullptr) return {};
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

void AppendResultLine(std::string_view line) {
  DialogTextSink sink;
  {
    std::lock_guard lock(win32::g_mutex);
    sink = win32::g_line_sink;
  }
  if (sink) {
    sink(line);
    return;
  }
  std::string text(line);
  win32::OnDialogThread([text](HWND hwnd) {
    const LRESULT index = SendDlgItemMessageA(hwnd, win32::kResultList, LB_ADDSTRING, 0,
                                              reinterpret_cast<LPARAM>(text.c_str()));
    if (index >= 0) SendDlgItemMessageA(hwnd, win32::kResultList, LB_SETTOPINDEX, index, 0);
  });
  // Also on standard output when it leads somewhere (a pipe, a file), so
  // that a supervisor reads the same lines as from the POSIX build.
  if (win32::StdHandleUsable(STD_OUTPUT_HANDLE)) win32::WriteStd(stdout, text);
}

void ClearResultLines() {
  win32::OnDialogThread(
      [](HWND hwnd) { SendDlgItemMessageA(hwnd, win32::kResultList, LB_RESETCONTENT, 0, 0); });
}

void SetMessageBoxSink(DialogTextSink sink) {
  std::lock_guard lock(win32::g_mutex);
  win32::g_box_sink = std::move(sink);
}

void SetResultLineSink(DialogTextSink sink) {
  std::lock_guard lock(win32::g_mutex);
  win32::g_line_sink = std::move(sink);
}

bool ConsoleInputEnabled() {
  const char* env = std::getenv("SERVERAPP_CONSOLE");
  if (env != nullptr && std::strcmp(env, "1") == 0) return true;
  // A console answers GetConsoleMode. FILE_TYPE_CHAR alone is not enough:
  // the NUL device is a character device too, and a host started with
  // standard input on NUL would read its end at once and close as Cancel.
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  return in != nullptr && in != INVALID_HANDLE_VALUE && GetConsoleMode(in, &mode) != FALSE;
}

std::unique_ptr<DialogFeed> StartDialogFeed(DialogFeedHandlers handlers) {
  auto state = std::make_shared<win32::FeedState>();
  state->handlers = std::move(handlers);
  {
    std::lock_guard lock(win32::g_mutex);
    if (win32::g_feed) return nullptr;  // one feed per process
  }
  const HANDLE terminate = win32::CreateStopRequestEvent(win32::StopKind::kTerminate);
  const HANDLE interrupt = win32::CreateStopRequestEvent(win32::StopKind::kInterrupt);
  const HANDLE quit = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  state->finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!terminate || !interrupt || !quit || !state->finished) {
    for (HANDLE h : {terminate, interrupt, quit}) {
      if (h) CloseHandle(h);
    }
    return nullptr;
  }
  {
    std::lock_guard lock(win32::g_mutex);
    if (win32::g_feed) {
      for (HANDLE h : {terminate, interrupt, quit}) CloseHandle(h);
      return nullptr;
    }
    win32::g_feed = state;
  }
  return std::make_unique<win32::Win32DialogFeed>(state, terminate, interrupt, quit,
                                                  ConsoleInputEnabled());
}

}  // namespace platform
