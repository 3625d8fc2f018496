// The main dialog of the Windows build: this test program carries the
// host's resources (template 102, icon 128), so its first window is that
// dialog, as in ServerApp.exe.
#include <windows.h>
#undef PostMessage

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/dialog.h"
#include "platform/identity.h"
#include "platform/window.h"
#include "stop_request_win32.h"

namespace platform {
namespace {

struct CountingHandler : WindowHandler {
  int posts = 0;
  Window* end_on_post = nullptr;
  LResult OnSend(uint32_t msg, WParam, LParam l_param, const CopyData& copy) override {
    if (msg != kWmCopyData || l_param != 0) return -1;
    return static_cast<LResult>(copy.dw_data + copy.data.size());
  }
  void OnPost(uint32_t, WParam, LParam l_param) override {
    ++posts;
    if (end_on_post) end_on_post->End(l_param);
  }
};

HWND Hwnd(WindowHandle handle) {
  return reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(handle)));
}

std::wstring TextOf(HWND hwnd) {
  wchar_t text[128] = {};
  GetWindowTextW(hwnd, text, 128);
  return text;
}

std::string ListLine(HWND dialog, int index) {
  char text[256] = {};
  SendDlgItemMessageA(dialog, 1006, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text));
  return text;
}

void Click(HWND dialog, int id) {
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

TEST(MainDialog, IsTheTemplateWithItsControlsServesTheDialogFaceAndFeedsTheHost) {
  CountingHandler handler;
  auto window = Window::Create(handler);
  ASSERT_TRUE(window);
  const HWND dialog = Hwnd(window->handle());
  char class_name[32] = {};
  GetClassNameA(dialog, class_name, sizeof(class_name));
  EXPECT_STREQ(class_name, "#32770") << "not a dialog";
  EXPECT_EQ(TextOf(dialog), L"ServerApp");
  EXPECT_EQ(TextOf(GetDlgItem(dialog, 1003)), L"Go");
  EXPECT_EQ(TextOf(GetDlgItem(dialog, 1001)), L"\xC11C\xBC84\xC2DC\xC791");  // 서버시작
  EXPECT_EQ(TextOf(GetDlgItem(dialog, IDOK)), L"\xD655\xC778");              // 확인
  EXPECT_NE(GetDlgItem(dialog, 1002), nullptr);
  EXPECT_NE(GetDlgItem(dialog, 1006), nullptr);
  EXPECT_NE(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(SendMessageW(dialog, WM_QUERYDRAGICON, 0, 0), 0);

  // A second window is a plain one: one main dialog per process.
  CountingHandler other;
  auto plain = Window::Create(other);
  ASSERT_TRUE(plain);
  GetClassNameA(Hwnd(plain->handle()), class_name, sizeof(class_name));
  EXPECT_STRNE(class_name, "#32770");

  // Window messages reach the handler through the dialog procedure, with
  // the handler's answer as the send's result.
  const std::byte payload[3] = {};
  EXPECT_EQ(SendCopyData(window->handle(), plain->handle(), 40, payload), 43);
  handler.end_on_post = window.get();
  EXPECT_TRUE(PostMessage(window->handle(), kWmUser + 0x40, 1, 5));
  EXPECT_EQ(window->Run(), 5);
  EXPECT_EQ(handler.posts, 1);
  handler.end_on_post = nullptr;

  // Title and result list.
  SetDialogTitle("ServerApp (USN : 1 2)");
  EXPECT_EQ(TextOf(dialog), L"ServerApp (USN : 1 2)");
  EXPECT_EQ(DialogTitle(), "ServerApp (USN : 1 2)");
  AppendResultLine("first");
  AppendResultLine("second");
  EXPECT_EQ(SendDlgItemMessageA(dialog, 1006, LB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(ListLine(dialog, 0), "first");
  EXPECT_EQ(ListLine(dialog, 1), "second");
  ClearResultLines();
  EXPECT_EQ(SendDlgItemMessageA(dialog, 1006, LB_GETCOUNT, 0, 0), 0);

  // Lines from another thread go through the dialog's loop.
  std::thread([] { AppendResultLine("from a thread"); }).join();
  window->Invoke([&] { window->End(0); });
  window->Run();
  EXPECT_EQ(ListLine(dialog, 0), "from a thread");

  // Message boxes of unattended runs are lines on stderr.
  SetEnvironmentVariableA("SERVERAPP_MESSAGEBOX", "stderr");
  _putenv("SERVERAPP_MESSAGEBOX=stderr");
  testing::internal::CaptureStderr();
  EXPECT_EQ(ShowMessageBox("RunConsoleString error."), kIdOk);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ServerApp: RunConsoleString error.\n");

  // The feed: buttons, the close box, the session's end and stop requests.
  std::vector<std::string> lines;
  int interrupts = 0;
  DialogFeedHandlers feed_handlers;
  feed_handlers.on_console_line = [&](const std::string& line) { lines.push_back(line); };
  feed_handlers.on_terminate = [&] { window->End(kIdOk); };
  feed_handlers.on_interrupt = [&] {
    ++interrupts;
    window->End(kIdCancel);
  };
  auto feed = StartDialogFeed(feed_handlers);
  ASSERT_TRUE(feed);
  EXPECT_EQ(StartDialogFeed({}), nullptr) << "one feed per process";

  // "Go" hands the edit box's text on as a console line; 서버시작 does nothing.
  SetDlgItemTextA(dialog, 1002, "status");
  Click(dialog, 1003);
  Click(dialog, 1001);
  EXPECT_EQ(lines, std::vector<std::string>{"status"});

  Click(dialog, IDOK);
  EXPECT_EQ(window->Run(), kIdOk);
  Click(dialog, IDCANCEL);
  EXPECT_EQ(window->Run(), kIdCancel);
  // The close box (and taskkill) ends the dialog as Cancel; the session's
  // end is the system's stop request: OK.
  SendMessageW(dialog, WM_CLOSE, 0, 0);
  EXPECT_EQ(window->Run(), kIdCancel);
  SendMessageW(dialog, WM_ENDSESSION, TRUE, 0);
  EXPECT_EQ(window->Run(), kIdOk);
  // Process::Interrupt's event, as SIGINT: Cancel.
  ASSERT_TRUE(win32::SignalStopRequest(CurrentProcessId(), win32::StopKind::kInterrupt));
  EXPECT_EQ(window->Run(), kIdCancel);
  EXPECT_EQ(interrupts, 1);
  ASSERT_TRUE(win32::SignalStopRequest(CurrentProcessId(), win32::StopKind::kTerminate));
  EXPECT_EQ(window->Run(), kIdOk);

  // Destroyed, the feed calls nothing more and its events are gone.
  feed.reset();
  EXPECT_FALSE(win32::SignalStopRequest(CurrentProcessId(), win32::StopKind::kInterrupt));
  EXPECT_EQ(interrupts, 1);
  window.reset();
  EXPECT_FALSE(::IsWindow(dialog));
}

}  // namespace
}  // namespace platform
