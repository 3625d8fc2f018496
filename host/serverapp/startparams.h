// The five start parameters of a host: from the command line, or from the
// parameter file "..\Parameter.txt" when the command line is empty.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct StartParams {
  uint64_t hManagerWnd = 0;      // 1: the manager's window
  int32_t nPort = 0;             // 2
  int16_t sServerIndex = -1;     // 3: the room slot
  int64_t nServerIndexArg = -1;  // 3 as written (64 bits), before the cut to 16 bits
  int32_t nReserved = 0;         // 4: shown in the title only
  int32_t nGroupNumber = 0;      // 5
};

// Parses argv[1]..argv[5] (args[0]..args[4]) as atoll, atol, atoi (cut to 16
// bits), atoi, atoi. The server index is also kept as a 64-bit value, so
// that neither the cut to 16 bits nor a 32-bit wrap ("4294967296") can turn
// a wrong index into a valid slot. Arguments that are not there are not
// read: they keep their initial values.
StartParams ParseCommandLineParams(const std::vector<std::string>& args);

// True when the server index as written lies in 0..199, the slots a
// command line may name.
bool ServerIndexInRange(const StartParams& params);

// Reads one line of the parameter file with "%d %ld %hd %d %d" (the window
// handle as a 32-bit decimal). False when the file cannot be opened. Values
// that cannot be read keep their initial values.
bool ReadParameterFile(const char* path, StartParams* params);

// The parameter file, relative to the current directory.
inline constexpr const char kParameterFile[] = "../Parameter.txt";

// The window title: "<caption> (USN : <command line>)" with a command line,
// "<caption> (USN : %ld %ld %d %d %d)" with the five values otherwise.
std::string FormatTitle(const std::string& caption, const std::vector<std::string>& args,
                        const StartParams& params);

// The instance folder name "%ld_%d" of group number and server index.
std::string InstanceFolderName(int32_t group_number, int16_t server_index);
