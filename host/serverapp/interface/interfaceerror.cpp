#include "interface/interfaceerror.h"

#include <string>

#include "platform/identity.h"

namespace {
InterfaceErrorSink s_pSink = nullptr;
}  // namespace

void SetInterfaceErrorSink(InterfaceErrorSink sink) {
  s_pSink = sink;
}

void ReportInterfaceError(const char* pszText) {
  const std::string_view text(pszText ? pszText : "");
  // A programming error: the runtime's debug assertion report (which goes
  // on), and the line for whoever reads this image's log.
  ::platform::ReportAssertion(text, __FILE__, __LINE__);
  if (s_pSink) {
    s_pSink(pszText ? pszText : "");
  } else {
    std::string line(text);
    line += '\n';
    ::platform::DebuggerOutput(line);
  }
}
