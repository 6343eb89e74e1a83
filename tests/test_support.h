// Helpers shared by the tests: scratch directories, captured console output
// and child processes.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A fresh directory, removed with everything in it at the end of scope.
struct TempDir {
  std::string path;
  TempDir();
  ~TempDir();
  std::string operator/(const std::string &name) const { return path + "/" + name; }
};

// Points the console at memory for its lifetime.
struct CapturedConsole {
  char *buffer = nullptr;
  size_t size = 0;
  FILE *stream = nullptr;
  CapturedConsole();
  ~CapturedConsole();
  std::string text(); // everything printed so far
};

struct ProcessResult {
  int code = -1; // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Runs argv with extra "NAME=value" environment entries and the given
// standard input, and waits for it.
ProcessResult RunProcess(const std::vector<std::string> &argv,
                         const std::vector<std::string> &env = {},
                         const std::string &input = "");

// A child left running; its standard output goes to out_path.
pid_t StartProcess(const std::vector<std::string> &argv,
                   const std::vector<std::string> &env,
                   const std::string &out_path);
// Sends signal and reaps the child; returns its exit code (128 + signal).
int StopProcess(pid_t pid, int signal);
// Waits until path exists (up to about five seconds).
bool WaitForFile(const std::string &path);
std::string ReadFileText(const std::string &path);
// Sets or restores one environment variable for the scope.
struct ScopedEnv {
  std::string name;
  std::string old;
  bool had;
  ScopedEnv(const char *name, const std::string &value);
  ~ScopedEnv();
};
