// ServerApp: the host process of one game room.
#include "serverapp.h"

int main(int argc, char** argv) {
  return ServerAppMain(argc, argv);
}
