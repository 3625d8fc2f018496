#include <iostream>

#include "msztool.h"

int main(int argc, char** argv) {
  return msztool::Main(argc, argv, std::cout, std::cerr);
}
