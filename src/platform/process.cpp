#include "platform/process.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/console.h"

namespace {

void output_to_null() {
  int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  for (int fd : {0, 1, 2})
    dup2(null, fd);
  if (null > 2)
    close(null);
}

} // namespace

int DetachWhenReady(int failed) {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0)
    return -1;
  pid_t child = fork();
  if (child < 0)
    return -1;
  if (child == 0) {
    close(ready[0]);
    setsid();
    return ready[1];
  }
  close(ready[1]);
  std::string said;
  char buffer[512];
  for (ssize_t got; (got = read(ready[0], buffer, sizeof buffer)) != 0;)
    if (got > 0)
      said.append(buffer, static_cast<size_t>(got));
  if (said.empty()) { // it could not start, and said why on standard error
    waitpid(child, nullptr, 0);
    exit(failed);
  }
  fputs(said.c_str(), stdout);
  exit(FlushOutput());
}

void ReportReady(int ready, const std::string &lines) {
  if (write(ready, lines.data(), lines.size()) < 0)
    return;
  close(ready);
  output_to_null();
}

bool HaveProgram(const char *name) {
  const char *path = getenv("PATH");
  std::string directories = path ? path : "/usr/bin:/bin";
  for (size_t start = 0, end; start <= directories.size(); start = end + 1) {
    end = directories.find(':', start);
    end = end == std::string::npos ? directories.size() : end;
    std::string directory = directories.substr(start, end - start);
    std::string candidate = (directory.empty() ? "." : directory) + "/" + name; // as execlp reads it
    if (access(candidate.c_str(), X_OK) == 0)
      return true;
  }
  return false;
}

void SpawnAway(const char *program, const std::string &argument) {
  pid_t child = fork();
  if (child == 0) {
    if (fork() == 0) {
      output_to_null();
      execlp(program, program, argument.c_str(), static_cast<char *>(nullptr));
    }
    _exit(0);
  }
  if (child > 0)
    waitpid(child, nullptr, 0);
}
