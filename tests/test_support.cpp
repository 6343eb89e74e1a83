#include "test_support.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fixtures/fixture.h"
#include "picture/harvest.h"
#include "picture/picture.h"
#include "platform/console.h"
#include "run/walk.h"

TempDir::TempDir() {
  char pattern[] = "/tmp/pintrail-test-XXXXXX";
  path = mkdtemp(pattern);
}

TempDir::~TempDir() {
  std::string command = "chmod -R u+rwx '" + path + "' 2>/dev/null; rm -rf '" + path + "'";
  if (system(command.c_str()) != 0)
    fprintf(stderr, "could not remove %s\n", path.c_str());
}

CapturedConsole::CapturedConsole() : stream(open_memstream(&buffer, &size)) { SetOutput(stream); }

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

int exit_code(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void redirect(const std::string &path, int fd, int flags) {
  int opened = open(path.c_str(), flags, 0644);
  if (opened != fd && dup2(opened, fd) == fd)
    close(opened);
}

} // namespace

pid_t StartProcess(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                   const std::string &out_path, const std::string &err_path, const std::string &in_path) {
  pid_t pid = fork();
  if (pid != 0)
    return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL); // a test that dies takes its children along
  redirect(in_path, 0, O_RDONLY);
  redirect(out_path, 1, O_WRONLY | O_CREAT | O_TRUNC);
  if (!err_path.empty())
    redirect(err_path, 2, O_WRONLY | O_CREAT | O_TRUNC);
  close_range(3, ~0U, 0); // the child holds only what it opens itself
  for (const std::string &entry : env)
    putenv(const_cast<char *>(entry.c_str()));
  std::vector<char *> args;
  for (const std::string &arg : argv)
    args.push_back(const_cast<char *>(arg.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

ProcessResult RunProcess(const std::vector<std::string> &argv,
                         const std::vector<std::string> &env, const std::string &input) {
  TempDir files;
  WriteFile(files / "in", input);
  pid_t pid = StartProcess(argv, env, files / "out", files / "err", files / "in");
  int status = 0;
  waitpid(pid, &status, 0);
  return ProcessResult{exit_code(status), ReadFileText(files / "out"), ReadFileText(files / "err")};
}

int StopProcess(pid_t pid, int signal) {
  kill(pid, signal);
  int status = 0;
  for (int i = 0; i < 1000 && waitpid(pid, &status, WNOHANG) == 0; ++i)
    usleep(10000);
  if (waitpid(pid, &status, WNOHANG) == 0) { // it would not stop: a failure, never a hang
    ADD_FAILURE() << "process " << pid << " ignored signal " << signal;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  return exit_code(status);
}

Daemon::~Daemon() {
  if (pid > 0 && kill(pid, SIGKILL) == 0)
    ADD_FAILURE() << "daemon " << pid << " was still running";
}

bool WaitFor(const std::function<bool()> &condition, int seconds) {
  for (int i = 0; i < seconds * 100; ++i, usleep(10000))
    if (condition())
      return true;
  return false;
}

std::string ReadFileText(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> ExportedNames(const std::string &page) {
  size_t from = page.find("id=\"library\">") + 13;
  nlohmann::json library = nlohmann::json::parse(page.substr(from, page.find("</script>", from) - from));
  std::vector<std::string> names;
  std::string before; // each shares so many characters with the one before, at its start and its end, counted from '0'
  for (const std::string text : library["names"])
    names.push_back(before = before.substr(0, size_t(text[0] - '0')) + text.substr(2) + before.substr(before.size() - size_t(text[1] - '0')));
  return names;
}

std::vector<std::string> LinesOf(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

std::string WalkOutput(const std::string &path, bool position, bool all_formats) {
  std::string outputs[2];
  for (int plain = 0; plain < 2; ++plain) {
    setenv("PINTRAIL_THREADS", plain ? "1" : "4", 1);
    CapturedConsole console;
    GeoRecord record;
    InitGeoRecord(record, 0, position ? -1 : 0, 0, 0, all_formats ? -1 : 0);
    WalkTree(path.c_str(), record);
    outputs[plain] = console.text();
  }
  unsetenv("PINTRAIL_THREADS");
  EXPECT_EQ(outputs[0], outputs[1]) << "threads and the plain loop differ on " << path;
  return outputs[0];
}

std::string HarvestText(ExifHandle data) {
  if (!data)
    return "no EXIF data";
  GeoRecord r{};
  HarvestData(data.get(), r);
  std::string all = std::to_string(r.geo_tag_found) + std::to_string(r.below_sea_level);
  for (const char *text : {r.lat_ref_kept, r.lat_ref_latest, r.lon_ref, r.latitude, r.longitude, r.altitude, r.capture_time})
    all += std::string("|") + text;
  return all;
}

TestPeer::TestPeer(int count, int32_t rc, std::function<void(PortMessage &)> answer) {
  std::string why;
  port = CreatePublicPort(kMapPortName, &why);
  EXPECT_TRUE(port) << why;
  if (!answer)
    answer = [rc](PortMessage &message) {
      ReplyMsg(message, WireReply{rc, rc == 0 ? std::optional<std::string>("done") : std::nullopt});
    };
  thread = std::thread([this, count, answer] {
    PortMessage message;
    while (static_cast<int>(received.size()) < count) {
      PortWait got = GetMsg(*port, message, &stop, 2000);
      if (got == PortWait::Stopped)
        return;
      if (got == PortWait::Message) {
        received.push_back(message.message);
        answer(message);
      }
    }
  });
}

TestPeer::~TestPeer() {
  stop = 1;
  if (thread.joinable())
    thread.join();
}

MapHost::MapHost(PrivatePorts &ports, std::vector<std::string> words) {
  words.insert(words.begin(), MAPHOST_BIN);
  // Under AddressSanitizer freed memory is held back: release it at once.
  pid = StartProcess(words, {ports.env_entry(), "ASAN_OPTIONS=quarantine_size_mb=0"},
                     ports.dir / "host.out", ports.dir / "host.err");
  EXPECT_TRUE(WaitFor([] { return FindPort(kMapPortName) != nullptr; }));
}

MapHost::~MapHost() {
  int code = pid > 0 ? StopProcess(pid, SIGTERM) : 0; // a test that stopped it itself set -1
  // A clean end (no leak, under LeakSanitizer), unless the test killed it.
  EXPECT_TRUE(code == 0 || code == 128 + SIGKILL) << "the map host ended with " << code;
}

std::string Be32(uint32_t v) { return BigEndian(v, 4); }

size_t Descriptors(pid_t pid) {
  return LinesOf(RunProcess({"/bin/ls", "/proc/" + std::to_string(pid) + "/fd"}).out).size();
}

namespace {

// Whatever a test opens, it closes: a descriptor left over fails the run. Descriptor 0 is
// freed first, so the code under test is handed it and each test of a descriptor at 0 counts.
struct NoDescriptorLeft : testing::Environment {
  size_t before = 0;
  void SetUp() override {
    close(STDIN_FILENO);
    before = Descriptors(getpid());
  }
  void TearDown() override { // SQLite keeps /dev/null on a free descriptor 0, so no database lands there
    bool guard = std::filesystem::read_symlink("/proc/self/fd/0", ignored) == "/dev/null";
    EXPECT_LE(Descriptors(getpid()) - guard, before) << "descriptors left open";
  }
  std::error_code ignored;
};
testing::Environment *const no_descriptor_left = testing::AddGlobalTestEnvironment(new NoDescriptorLeft);

} // namespace
