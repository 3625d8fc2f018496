// The application object and the testable body of main.
#include "serverapp.h"

#include "serverappdlg.h"

bool CServerAppApp::InitInstance() {
  return true;
}

int CServerAppApp::Run() {
  int64_t result;
  {
    CServerAppDlg dialog(m_args);
    result = dialog.DoModal();
  }
  return static_cast<int>(result);
}

int ServerAppMain(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  CServerAppApp app(std::move(args));
  if (!app.InitInstance()) return 0;
  return app.Run();
}
