#include "devhttp_main.h"

int main(int argc, char** argv) {
  return devhttp::DevHttpMain(argc, argv);
}
