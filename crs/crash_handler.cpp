#include "crs/crash_handler.h"

#include <cstdarg>
#include <cstdint>
#include <string>

#include "crs/crash_profile.h"
#include "crs/crs_client.h"
#include "crs/safe_format.h"
#include "hostlogger.h"
#include "logline.h"
#include "platform/crash_io.h"
#include "platform/files.h"
#include "platform/printf_format.h"

namespace {

// The settings, filled at installation; the dump folder and pattern are
// rewritten by the crash report. Plain buffers: the crash path reads them.
char g_szHostName[101];
char g_szAppFolder[101];
char g_szInstanceFolder[101];
char g_szDumpFolder[401];
char g_szDumpNamePattern[1001];
char g_szLogRoot[401];  // <log base>/quellmark/<app>

constexpr size_t kFileNameSize = 256;

// Copies text with every '%' doubled, so that names stay names inside a
// printf pattern.
void AppendEscaped(char* out, size_t size, const char* text) {
  size_t n = crs::TextLength(out);
  for (const char* p = text; *p != '\0' && n + 1 < size; ++p) {
    if (*p == '%') {
      if (n + 2 >= size) break;
      out[n++] = '%';
    }
    out[n++] = *p;
  }
  out[n] = '\0';
}

void BuildPatterns() {
  char tag[20];
  crs::FormatTo(tag, sizeof(tag), "[%d]", crs::kHostBuildNumber);
  g_szDumpNamePattern[0] = '\0';
  AppendEscaped(g_szDumpNamePattern, sizeof(g_szDumpNamePattern), g_szDumpFolder);
  crs::AppendTo(g_szDumpNamePattern, sizeof(g_szDumpNamePattern), "%c%sdmp_",
                platform::PathSeparator(), tag);
  AppendEscaped(g_szDumpNamePattern, sizeof(g_szDumpNamePattern), g_szAppFolder);
  crs::AppendTo(g_szDumpNamePattern, sizeof(g_szDumpNamePattern), "_");
  AppendEscaped(g_szDumpNamePattern, sizeof(g_szDumpNamePattern), g_szHostName);
  crs::AppendTo(g_szDumpNamePattern, sizeof(g_szDumpNamePattern), "_%s",
                "%04d%02d%02d-%02d%02d%02d%03d.dmp");
}

// One main-log line written with plain system calls, composed by the host
// logger's own helpers into fixed buffers: its file name, the time and the
// level's tag, the text, " \r\n", with LF written as CR LF as the logger's
// files have it; the same line (without that translation) goes to stdout.
void CrashHostLog(uint32_t level, const platform::CrashTime& t, const char* format, ...)
    SERVERAPP_PRINTF(3, 4);
void CrashHostLog(uint32_t level, const platform::CrashTime& t, const char* format, ...) {
  if (!IsLogLevelOn(level)) return;
  platform::LocalTime when{};
  when.year = t.year;
  when.month = t.month;
  when.day = t.day;
  when.hour = t.hour;
  when.minute = t.minute;
  when.second = t.second;
  when.millisecond = t.millisecond;
  char text[600];
  va_list args;
  va_start(args, format);
  crs::VFormatTo(text, sizeof(text), format, args);
  va_end(args);
  char line_buffer[700];
  hostlog::FixedText line(line_buffer, sizeof(line_buffer));
  hostlog::AppendLinePrefix(hostlog::LineForm::kLevel, when, level, {}, {}, &line);
  line.append(text).append(hostlog::LineSuffix(hostlog::LineForm::kLevel));
  char bytes_buffer[1400];
  hostlog::FixedText bytes(bytes_buffer, sizeof(bytes_buffer));
  hostlog::AppendTextMode({line.data(), line.size()}, &bytes);
  char path_buffer[1024];
  hostlog::FixedText path(path_buffer, sizeof(path_buffer));
  hostlog::AppendLogPath(g_szLogRoot, g_szInstanceFolder, "error", g_szAppFolder, g_szHostName,
                         when, false, &path);
  intptr_t file = platform::CrashFileOpenAppend(path.data());
  if (file != platform::kNoCrashFile) {
    platform::CrashFileWrite(file, bytes.data(), bytes.size());
    platform::CrashFileClose(file);
    platform::CrashFileWrite(platform::CrashStandardOutput(), line.data(), line.size());
  }
}

}  // namespace

void InstallCrashHandler(const char* host_name, const char* app_folder,
                         const char* instance_folder) {
  crs::CopyTo(g_szHostName, sizeof(g_szHostName), host_name != nullptr ? host_name : "");
  crs::CopyTo(g_szAppFolder, sizeof(g_szAppFolder), app_folder != nullptr ? app_folder : "");
  crs::CopyTo(g_szInstanceFolder, sizeof(g_szInstanceFolder),
              instance_folder != nullptr ? instance_folder : "");

  // Paths shown in the logs and the crash text use the system's separator.
  const char sep = platform::PathSeparator();
  const std::string base = platform::LogBaseFolder() + sep + "quellmark";
  crs::FormatTo(g_szLogRoot, sizeof(g_szLogRoot), "%s%c%s", base.c_str(), sep, g_szAppFolder);
  platform::CreateFolderChain(g_szLogRoot);

  // The crash path's clock needs the local offset before it names a day.
  platform::PrepareCrashClock();
  platform::CrashTime now;
  platform::CrashLocalTime(&now);
  char day[16];
  crs::FormatTo(day, sizeof(day), "%d%02d%02d", now.year, now.month, now.day);
  RefreshDumpFolder(day);
  platform::InstallCrashFilter(&CrashFilter);
  platform::InstallInvalidParameterHandler(&InvalidParameterHandler);

  char output[260];
  crs::FormatTo(output, sizeof(output), "%s%c%s", base.c_str(), sep, g_szAppFolder);
  crs::Client::Instance().Init(output, g_szInstanceFolder);
}

void RefreshDumpFolder(const char* day) {
  char folder[sizeof(g_szDumpFolder)];
  const char sep = platform::PathSeparator();
  crs::FormatTo(folder, sizeof(folder), "%s%c%s", g_szLogRoot, sep, day);
  platform::CrashMakeFolder(folder);
  crs::AppendTo(folder, sizeof(folder), "%c%s", sep, g_szInstanceFolder);
  platform::CrashMakeFolder(folder);
  crs::CopyTo(g_szDumpFolder, sizeof(g_szDumpFolder), folder);
  BuildPatterns();
}

int CrashFilter(const platform::CrashInfo* info) {
  platform::RunCrashReport(&WriteCrashReport, info);
  return platform::kCrashExecuteHandler;
}

int WriteCrashReport(const platform::CrashInfo* info) {
  platform::CrashTime t;
  platform::CrashLocalTime(&t);
  char day[16];
  crs::FormatTo(day, sizeof(day), "%d%02d%02d", t.year, t.month, t.day);
  RefreshDumpFolder(day);

  // A name too long for the 256-character buffer would name another file:
  // then no dump is written, and the upload reports the missing file.
  char file_name[1024];
  size_t length = crs::FormatTo(file_name, sizeof(file_name), g_szDumpNamePattern, t.year, t.month,
                                t.day, t.hour, t.minute, t.second, t.millisecond);
  if (length < kFileNameSize) {
    intptr_t file = platform::CrashFileCreate(file_name);
    if (file != platform::kNoCrashFile) {
      bool full = crs::CrashProfileInt("GameMgmt", "FullDump", 1, "Setting.ini") != 0;
      platform::WriteMinidump(file, info, full);
      platform::CrashFileClose(file);
    }
  } else {
    file_name[kFileNameSize - 1] = '\0';
  }

  char text[crs::kExceptionTextSize] = {};
  crs::Client& client = crs::Client::Instance();
  client.BuildExceptionText(info, text);
  if (client.Upload(file_name, text)) {
    CrashHostLog(HLOG_INFO, t, "CRS Upload Succeeded: %s", client.GetUrl());
  } else {
    CrashHostLog(HLOG_ERROR, t, "CRS Upload Failed: %s", client.GetLastErrorText());
  }
  return 1;
}

void InvalidParameterHandler(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                             uintptr_t) {
  platform::RaiseAccessViolation();
}

int QuietCrashFilter(const platform::CrashInfo*) {
  return platform::kCrashExecuteHandler;
}

void InstallQuietCrashFilter() {
  platform::InstallCrashFilter(&QuietCrashFilter);
}

const char* CrashDumpFolder() {
  return g_szDumpFolder;
}

const char* CrashDumpNamePattern() {
  return g_szDumpNamePattern;
}
