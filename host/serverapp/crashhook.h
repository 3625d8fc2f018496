// The one place where start-up installs the crash handler, so that the
// dialog does not depend on how the crash-report library is put together.
#pragma once

// Installs the crash handler for this host (machine name, the program's
// folder word "ServerApp", the instance folder).
void InstallCrashHandlerHook(const char* host_name, const char* app_folder,
                             const char* instance_folder);

// From now on a fault ends the process quietly: no dump, no upload (the
// manager asked this host to end).
void InstallQuietCrashFilterHook();
