// The sample library's dependency.
#include "platform/export.h"

extern "C" SERVERAPP_EXPORT int SampleDependencyValue() {
  return 2;
}
