// The content package list handed to the server module when it is loaded:
// every .rez package of the rez folder, then the content folders rez, rez2
// and rez3.
#pragma once

#include <string>
#include <vector>

class IGameServer;

// At most this many entries are passed to the module.
inline constexpr int MAX_REZ_COUNT = 1000;

// The list in hand-over order, unbounded: for each file of rez/*.rez in the
// order the folder search gives them, "rez/<name>", skipping folders and
// every name whose first '_' is not its first character; then "rez",
// "rez2", "rez3". Relative to the current directory, as the host runs in its
// instance folder. A missing rez folder gives the three folder names only.
std::vector<std::string> CollectRezEntries();

// Builds the list and hands the first MAX_REZ_COUNT entries to
// pServer->SetRezFileList; answers its result. When the array is full
// (exactly MAX_REZ_COUNT entries passed, whether or not any were dropped) it
// writes three lines to the debugger output. False at once for a null server.
// The texts live only during the call.
bool BuildRezFileList(IGameServer* pServer);
