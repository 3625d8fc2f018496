// CServerAppApp: the application object. Its Run is the whole life of the
// process: the dialog runs modally and its result is the exit code.
#pragma once

#include <string>
#include <vector>

class CServerAppApp {
 public:
  // args: the command line after the program name.
  explicit CServerAppApp(std::vector<std::string> args) : m_args(std::move(args)) {}

  // The framework's set-up; creates no dialog. Always true.
  bool InitInstance();
  // Constructs the dialog, runs it modally, destroys it, and answers the
  // modal result as the process exit code.
  int Run();

 private:
  std::vector<std::string> m_args;
};

// main's body: adapts argv and runs the application.
int ServerAppMain(int argc, char** argv);
