// gsmsim: the manager simulator. main only adapts the arguments.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  gsmsim::CommandIo io{std::cout, std::cerr};
  return gsmsim::GsmsimMain(args, io);
}
