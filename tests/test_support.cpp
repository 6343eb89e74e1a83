#include "test_support.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/console.h"

TempDir::TempDir() {
  char pattern[] = "/tmp/pintrail-test-XXXXXX";
  path = mkdtemp(pattern);
}

TempDir::~TempDir() {
  std::string command = "chmod -R u+rwx '" + path + "' 2>/dev/null; rm -rf '" + path + "'";
  if (system(command.c_str()) != 0)
    fprintf(stderr, "could not remove %s\n", path.c_str());
}

CapturedConsole::CapturedConsole() {
  stream = open_memstream(&buffer, &size);
  SetOutput(stream);
}

CapturedConsole::~CapturedConsole() {
  SetOutput(nullptr);
  fclose(stream);
  free(buffer);
}

std::string CapturedConsole::text() {
  fflush(stream);
  return std::string(buffer, size);
}

namespace {

std::vector<char *> c_strings(const std::vector<std::string> &strings) {
  std::vector<char *> pointers;
  for (const std::string &s : strings)
    pointers.push_back(const_cast<char *>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

void exec_child(const std::vector<std::string> &argv,
                const std::vector<std::string> &env) {
  for (const std::string &entry : env)
    putenv(const_cast<char *>(entry.c_str()));
  std::vector<char *> args = c_strings(argv);
  execv(args[0], args.data());
  _exit(127);
}

int exit_code(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

ProcessResult RunProcess(const std::vector<std::string> &argv,
                         const std::vector<std::string> &env,
                         const std::string &input) {
  int in[2], out[2], err[2];
  if (pipe(in) || pipe(out) || pipe(err))
    return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
      close(fd);
    exec_child(argv, env);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (!input.empty() && write(in[1], input.data(), input.size()) < 0)
    perror("write");
  close(in[1]);
  ProcessResult result;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string *sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  while (open_count > 0) {
    poll(fds, 2, -1);
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
        continue;
      char chunk[65536];
      ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
      if (n > 0) {
        sinks[i]->append(chunk, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.code = exit_code(status);
  return result;
}

pid_t StartProcess(const std::vector<std::string> &argv,
                   const std::vector<std::string> &env,
                   const std::string &out_path, const std::string &err_path) {
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, 0);
    dup2(fd, 1);
    if (!err_path.empty())
      dup2(open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    exec_child(argv, env);
  }
  return pid;
}

int StopProcess(pid_t pid, int signal) {
  kill(pid, signal);
  int status = 0;
  waitpid(pid, &status, 0);
  return exit_code(status);
}

bool WaitForFile(const std::string &path) {
  for (int i = 0; i < 500; ++i) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0)
      return true;
    usleep(10000);
  }
  return false;
}

std::string ReadFileText(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

ScopedEnv::ScopedEnv(const char *variable, const std::string &value)
    : name(variable) {
  const char *previous = getenv(variable);
  had = previous != nullptr;
  if (had)
    old = previous;
  setenv(variable, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (had)
    setenv(name.c_str(), old.c_str(), 1);
  else
    unsetenv(name.c_str());
}
