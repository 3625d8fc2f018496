// LogShellText: a text logged at a level its own prefix may override.
#include <string_view>

#include "hostlogger.h"
#include "serverappdlg.h"

void CServerAppDlg::LogShellText(const std::string& text, uint32_t level) {
  std::string_view view(text);
  if (view.starts_with("!err:")) {
    HostLogText(HLOG_FATAL, text);
  } else if (view.starts_with("!hack:")) {
    HostLogText(HLOG_INFO, text);
  } else {
    HostLogText(level, text);
  }
}
