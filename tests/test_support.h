// Helpers shared by the tests: scratch directories, console output, child processes, port peers.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "fixtures/fixture.h"
#include "fixtures/hostile.h"
#include "maplink/commands.h"
#include "picture/exif_load.h"
#include "platform/ports.h"
#include "platform/public_port.h"

// A fresh directory, removed with everything in it at the end of scope.
struct TempDir {
  std::string path;
  TempDir();
  ~TempDir();
  std::string operator/(const std::string &name) const { return path + "/" + name; }
};

struct CapturedConsole {
  char *buffer = nullptr;
  size_t size = 0;
  FILE *stream;
  CapturedConsole();
  ~CapturedConsole();
  std::string text(); // everything printed so far
};

struct ProcessResult {
  int code = -1; // exit status, or 128 + signal
  std::string out, err;
};
// Runs argv with extra "NAME=value" environment entries and this standard input; waits for it.
ProcessResult RunProcess(const std::vector<std::string> &argv, const std::vector<std::string> &env = {},
                         const std::string &input = "");
pid_t StartProcess(const std::vector<std::string> &argv, const std::vector<std::string> &env, const std::string &out_path,
                   const std::string &err_path = "", const std::string &in_path = "/dev/null");
// Signals and reaps the child: its exit code (128 + signal); killed, failing the test, after 10 s.
int StopProcess(pid_t pid, int signal);
// No child of the test (a detached host): killed, failing the test, if it runs at the end of scope.
struct Daemon {
  pid_t pid;
  ~Daemon();
};
// Polls condition for up to about this many seconds.
bool WaitFor(const std::function<bool()> &condition, int seconds = 5);
std::string ReadFileText(const std::string &path);
// The names of the positions an exported page shows, in its order.
std::vector<std::string> ExportedNames(const std::string &page);
size_t Descriptors(pid_t pid); // open in process pid
std::vector<std::string> LinesOf(const std::string &text);

// What the walk prints for path, plain, with POSITION or ALLFORMATS; the same with and without threads.
std::string WalkOutput(const std::string &path, bool position = false, bool all_formats = false);


// What the harvest made of a load, as one comparable text.
std::string HarvestText(ExifHandle data);

// A private port directory for the scope, in this process and for children.
struct PrivatePorts {
  TempDir dir;
  std::string ports = dir / "ports";
  PrivatePorts() {
    mkdir(ports.c_str(), 0700);
    setenv("REXX_PORT_DIR", ports.c_str(), 1);
  }
  ~PrivatePorts() { unsetenv("REXX_PORT_DIR"); }
  std::string env_entry() const { return "REXX_PORT_DIR=" + ports; }
  std::string port_path() const { return ports + "/" + kMapPortName; }
};

// Serves count messages in a thread, recording them, replying rc ("done").
struct TestPeer {
  std::unique_ptr<PublicPort> port;
  std::vector<WireMessage> received;
  std::thread thread;
  volatile sig_atomic_t stop = 0;
  TestPeer(int count, int32_t rc, std::function<void(PortMessage &)> answer = {});
  ~TestPeer();
};

std::string Be32(uint32_t value);

// The command that delivers the picture at path, taken where GpsFix{} says: as the survey sends it.
inline std::string DeliverPicture(const std::string &path) { return "AddJPGPos 51.5034306 13.41 " + path; }

// pintrail-maphost serving the private port for the scope, its output in host.out and host.err.
struct MapHost {
  pid_t pid;
  explicit MapHost(PrivatePorts &ports, std::vector<std::string> words = {"QUIET"});
  ~MapHost();
};
