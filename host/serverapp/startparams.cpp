// Start parameters and the texts made from them.
#include "startparams.h"

#include <cstdio>
#include <cstdlib>

StartParams ParseCommandLineParams(const std::vector<std::string>& args) {
  StartParams p;
  if (args.size() > 0) p.hManagerWnd = static_cast<uint64_t>(std::atoll(args[0].c_str()));
  if (args.size() > 1) p.nPort = static_cast<int32_t>(std::atol(args[1].c_str()));
  if (args.size() > 2) {
    // strtoll saturates where atoll's overflow is undefined; either way an
    // index past 64 bits is far outside the range.
    p.nServerIndexArg = std::strtoll(args[2].c_str(), nullptr, 10);
    p.sServerIndex = static_cast<int16_t>(p.nServerIndexArg);
  }
  if (args.size() > 3) p.nReserved = std::atoi(args[3].c_str());
  if (args.size() > 4) p.nGroupNumber = std::atoi(args[4].c_str());
  return p;
}

bool ServerIndexInRange(const StartParams& params) {
  return params.nServerIndexArg >= 0 && params.nServerIndexArg <= 199;
}

bool ReadParameterFile(const char* path, StartParams* params) {
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return false;
  int window = static_cast<int>(params->hManagerWnd);
  long port = params->nPort;
  short index = params->sServerIndex;
  int reserved = params->nReserved;
  int group = params->nGroupNumber;
  int read = std::fscanf(file, "%d %ld %hd %d %d", &window, &port, &index, &reserved, &group);
  std::fclose(file);
  // Only the low half of the handle is read from the file.
  if (read >= 1) params->hManagerWnd = static_cast<uint32_t>(window);
  if (read >= 2) params->nPort = static_cast<int32_t>(port);
  if (read >= 3) {
    params->sServerIndex = index;
    params->nServerIndexArg = index;
  }
  if (read >= 4) params->nReserved = reserved;
  if (read >= 5) params->nGroupNumber = group;
  return true;
}

std::string FormatTitle(const std::string& caption, const std::vector<std::string>& args,
                        const StartParams& params) {
  char text[1024];
  if (!args.empty()) {
    std::string line;
    for (const std::string& arg : args) {
      if (!line.empty()) line += ' ';
      line += arg;
    }
    std::snprintf(text, sizeof(text), "%s (USN : %s)", caption.c_str(), line.c_str());
  } else {
    std::snprintf(text, sizeof(text), "%s (USN : %ld %ld %d %d %d)", caption.c_str(),
                  static_cast<long>(params.hManagerWnd), static_cast<long>(params.nPort),
                  params.sServerIndex, params.nReserved, params.nGroupNumber);
  }
  return text;
}

std::string InstanceFolderName(int32_t group_number, int16_t server_index) {
  char text[256];
  std::snprintf(text, sizeof(text), "%ld_%d", static_cast<long>(group_number), server_index);
  return text;
}
