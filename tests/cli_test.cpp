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
