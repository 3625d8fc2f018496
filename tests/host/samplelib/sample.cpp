// A library for the library-seam tests: one export of its own, and a
// dependency whose export must not be found through it.
#include "platform/export.h"

extern "C" int SampleDependencyValue();

extern "C" SERVERAPP_EXPORT int SampleAnswer() {
  return 40 + SampleDependencyValue();
}
