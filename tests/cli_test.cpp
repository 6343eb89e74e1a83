// The pintrail binary as a user runs it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <dirent.h>
#include <fstream>
#include <sstream>

#include "fixture.h"
#include "test_support.h"

namespace {

ProcessResult pintrail(const std::vector<std::string> &words,
                       const std::vector<std::string> &env = {},
                       const std::string &input = "") {
  std::vector<std::string> argv{PINTRAIL_BIN};
  argv.insert(argv.end(), words.begin(), words.end());
  return RunProcess(argv, env, input);
}

std::string one_picture(const TempDir &dir) {
  std::string tree = dir / "tree";
  mkdir(tree.c_str(), 0755);
  WriteFile(tree + "/IMG_1.jpg", MakeJpeg(GpsEntries(GpsFix{})));
  return tree;
}

const char kLine[] = "IMG_1.jpg - lat = 51.5034 -  lon = 13.41 - alt = 0.245\n";

TEST(Cli, ArgumentErrorsAreReportedWithCodeZero) {
  for (std::vector<std::string> words :
       {std::vector<std::string>{}, {"a", "b"}, {"DIR"}, {"x", "VERBOSE=1"}}) {
    ProcessResult run = pintrail(words);
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out, "Wrong argument(s)!\n");
  }
}

TEST(Cli, HelpVersionAndTemplatePrompt) {
  ProcessResult help = pintrail({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("DIR/A,VERBOSE/S,POSITION/S,WAYPOINT/S,PICLIST/S"),
            std::string::npos);
  EXPECT_EQ(pintrail({"--version"}).out, "pintrail 1.1 (04.07.16)\n");

  TempDir dir;
  std::string tree = one_picture(dir);
  ProcessResult prompted = pintrail({"?"}, {}, "\"" + tree + "\" position\n");
  EXPECT_EQ(prompted.out,
            std::string("DIR/A,VERBOSE/S,POSITION/S,WAYPOINT/S,PICLIST/S: ") + kLine);
  EXPECT_EQ(pintrail({"?"}).out,
            "DIR/A,VERBOSE/S,POSITION/S,WAYPOINT/S,PICLIST/S: Wrong argument(s)!\n");
}

TEST(Cli, VersionTagIsInTheBinary) {
  std::ifstream binary(PINTRAIL_BIN, std::ios::binary);
  std::stringstream bytes;
  bytes << binary.rdbuf();
  EXPECT_NE(bytes.str().find(std::string("$VER: pintrail 1.1 (04.07.16)") + '\0'),
            std::string::npos);
}

TEST(Cli, NumbersIgnoreTheUsersLocale) {
  ProcessResult locales = RunProcess({"/usr/bin/locale", "-a"});
  if (locales.out.find("de_DE.utf8") == std::string::npos)
    GTEST_SKIP() << "no German locale installed (locale-gen de_DE.UTF-8)";
  TempDir dir;
  ProcessResult run = pintrail({one_picture(dir), "POSITION"},
                               {"LC_ALL=de_DE.UTF-8", "LANG=de_DE.UTF-8"});
  EXPECT_EQ(run.out, kLine);
}

TEST(Cli, BreakWhileWaitingForAHost) {
  TempDir dir;
  std::string tree = one_picture(dir);
  std::string ports = dir / "ports";
  mkdir(ports.c_str(), 0700);
  std::string env = "REXX_PORT_DIR=" + ports;
  pid_t host = StartProcess({MAPHOST_BIN, "QUIET"}, {env}, dir / "host.out");
  ASSERT_TRUE(WaitForFile(ports + "/VANTORA.1"));
  kill(host, SIGSTOP);
  std::string out_path = dir / "run.out";
  pid_t run = StartProcess({PINTRAIL_BIN, tree, "POSITION", "PICLIST"}, {env}, out_path);
  std::string announced = "IMG_1.jpg: Send pic list to vantora...\n";
  for (int i = 0; i < 500 && ReadFileText(out_path).find(announced) == std::string::npos; ++i)
    usleep(10000);
  kill(run, SIGINT);
  int status = 0;
  waitpid(run, &status, 0);
  StopProcess(host, SIGKILL);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 20);
  EXPECT_EQ(ReadFileText(out_path), std::string(kLine) + announced);
}

// Ctrl-C at any moment of a walk: "***Break", code 20, and standard output
// holds only whole lines.
TEST(Cli, BreakAtAnyMomentLeavesWholeLines) {
  TempDir dir;
  std::string tree = dir / "tree";
  mkdir(tree.c_str(), 0755);
  std::string with_gps = MakeJpeg(GpsEntries(GpsFix{})), without = MakeJpeg(CameraEntries());
  for (int i = 0; i < 3000; ++i)
    WriteFile(tree + "/IMG_" + std::to_string(i) + ".jpg", i % 3 ? with_gps : without);
  int broken = 0;
  for (int delay_us : {0, 500, 1000, 2000, 4000, 8000, 16000, 32000, 64000}) {
    std::string out = dir / "out", err = dir / "err";
    pid_t run = StartProcess({PINTRAIL_BIN, tree, "POSITION", "VERBOSE"}, {}, out, err);
    usleep(static_cast<useconds_t>(delay_us));
    kill(run, SIGINT);
    int status = 0;
    waitpid(run, &status, 0);
    std::string text = ReadFileText(out);
    if (WIFSIGNALED(status)) { // before the tool could catch it: nothing printed
      EXPECT_EQ(WTERMSIG(status), SIGINT);
      EXPECT_EQ(text, "");
      continue;
    }
    if (WEXITSTATUS(status) == 20) {
      ++broken;
      EXPECT_EQ(ReadFileText(err), "***Break\n");
    } else {
      EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    EXPECT_TRUE(text.empty() || text.back() == '\n') << delay_us;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      std::string line = text.substr(start, end - start);
      bool whole = line.find(" - lat = ") != std::string::npos ||
                   line.find(" - No geo tag found!") != std::string::npos ||
                   line.rfind("Picture", 0) == 0 || line.rfind("-----", 0) == 0 ||
                   line.rfind("Latitude: ", 0) == 0 || line.rfind("Longitude: ", 0) == 0 ||
                   line.rfind("Altitude: ", 0) == 0 || line.rfind("Time: ", 0) == 0 ||
                   line == "No geo tag found!";
      EXPECT_TRUE(whole) << line;
    }
  }
  EXPECT_GT(broken, 0);
}

// Every corpus file gets exactly one whole line: a position, no geo tag, or
// not a JPEG.
TEST(Cli, RealCameraFiles) {
  std::string corpus = std::string(CORPUS_DIR) + "/jpg";
  struct stat info;
  if (stat(corpus.c_str(), &info) != 0)
    GTEST_SKIP() << "no camera corpus at " << corpus;
  ProcessResult run = pintrail({corpus, "POSITION", "VERBOSE"});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.err, "");
  ProcessResult count = RunProcess({"/usr/bin/find", corpus, "-type", "f"});
  long files = std::count(count.out.begin(), count.out.end(), '\n');
  ProcessResult lines = pintrail({corpus, "POSITION"});
  EXPECT_EQ(std::count(lines.out.begin(), lines.out.end(), '\n'), files);
  EXPECT_NE(lines.out.find("DSCN0010.jpg - lat = 43.4674 -  lon = 11.8851"),
            std::string::npos);
}

} // namespace
