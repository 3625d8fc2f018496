// The crash handler: on a fatal fault it writes a minidump into the day's
// folder under the log root, uploads it with the text of the faulting stack
// through crs::Client, and notes the outcome in the host log
// ("CRS Upload Succeeded: %s" / "CRS Upload Failed: %s").
//
// Dumps lie in <log base>/quellmark/<app>/<yyyymmdd>/<instance>/ and are
// named "[2112]dmp_<app>_<host>_<yyyymmdd>-<hhmmssmmm>.dmp". "FullDump" of
// section "GameMgmt" in ./Setting.ini, read at crash time (default 1), asks
// for a full-memory dump; 0 for a normal one.
//
// Process-wide: install once at start-up, before the server module is
// loaded. The crash path allocates nothing and takes no lock.
#pragma once

#include <cstdint>

#include "platform/crash.h"

// Copies the names, makes the folders, installs CrashFilter as the fault
// filter and initialises the crash-report client (its failure is kept by the
// client and reported at the first upload). host_name: the machine's host
// name; app_folder: "ServerApp"; instance_folder: "%ld_%d" of group and
// server index. Each name is cut to 100 characters.
void InstallCrashHandler(const char* host_name, const char* app_folder,
                         const char* instance_folder);

// The fault filter: writes the report (with stack enough after a stack
// overflow) and answers 1 (execute handler); the process then ends.
int CrashFilter(const platform::CrashInfo* info);

// Writes the dump, uploads it and logs the outcome; answers 1. info may be
// null: the calling thread is then dumped where it stands.
int WriteCrashReport(const platform::CrashInfo* info);

// Makes the day folder and its instance folder under the log root for day
// ("yyyymmdd") and points the dump folder and dump-name pattern there.
void RefreshDumpFolder(const char* day);

// The C runtime's invalid-parameter handler, installed by
// InstallCrashHandler (Windows; POSIX has no such hook): raises an access
// violation that reaches CrashFilter. Its arguments are ignored.
void InvalidParameterHandler(const wchar_t* expression, const wchar_t* function,
                             const wchar_t* file, unsigned int line, uintptr_t reserved);

// From now on a fault ends the process without dump, upload or log line
// (start of the shutdown the manager asked for).
void InstallQuietCrashFilter();
int QuietCrashFilter(const platform::CrashInfo* info);

// The current dump folder and dump-name pattern (for tests and tools).
const char* CrashDumpFolder();
const char* CrashDumpNamePattern();
