// Helpers shared by the tests: scratch directories, captured console output
// and child processes.
#pragma once

#include <cstdint>
#include <memory>
#include <thread>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "maplink/commands.h"
#include "platform/ports.h"

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
                   const std::string &out_path, const std::string &err_path = "");
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

struct PrivatePorts {
  TempDir dir;
  std::string ports = dir / "ports";
  ScopedEnv env{"REXX_PORT_DIR", ports};
  PrivatePorts() { mkdir(ports.c_str(), 0700); }
  std::string port_path() const { return ports + "/" + kMapPortName; }
  std::string env_entry() const { return "REXX_PORT_DIR=" + ports; }
};

// Serves count messages in a thread, recording them and replying rc.
struct TestPeer {
  std::unique_ptr<PublicPort> port;
  std::vector<WireMessage> received;
  std::thread thread;
  volatile int stop = 0;

  TestPeer(int count, int32_t rc, const char *name = kMapPortName) {
    std::string why;
    port = CreatePublicPort(name, &why);
    EXPECT_TRUE(port) << why;
    thread = std::thread([this, count, rc] {
      HostMsg message;
      while (static_cast<int>(received.size()) < count) {
        HostWait got = GetMsg(*port, message, &stop, 2000);
        if (got == HostWait::Stopped)
          return;
        if (got != HostWait::Message)
          continue;
        received.push_back(message.message);
        ReplyMsg(message, WireReply{rc, rc == 0 ? std::optional<std::string>("done")
                                                : std::nullopt});
      }
    });
  }
  ~TestPeer() {
    stop = 1;
    if (thread.joinable())
      thread.join();
  }
};

