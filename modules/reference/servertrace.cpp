// Appending trace lines.
#include "servertrace.h"

#include <cstdarg>
#include <cstdio>

#include "platform/files.h"
#include "platform/thread.h"

namespace refmod {

void ServerTrace::Line(const char* format, ...) const {
  if (file_.empty()) return;
  char text[1024];
  int head = std::snprintf(text, sizeof(text), "%u ", platform::TimeGetTime());
  va_list args;
  va_start(args, format);
  int body = std::vsnprintf(text + head, sizeof(text) - head - 1, format, args);
  va_end(args);
  size_t length = static_cast<size_t>(head) + (body < 0 ? 0 : static_cast<size_t>(body));
  if (length > sizeof(text) - 2) length = sizeof(text) - 2;
  text[length++] = '\n';
  platform::FileHandle file = platform::OpenForAppend(file_.c_str());
  if (file == platform::kInvalidFile) return;
  platform::WriteToFile(file, text, length);
  platform::CloseFile(file);
}

}  // namespace refmod
