// The pintrail binary as a user runs it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include "fixtures/fixture.h"
#include "test_support.h"

namespace {

const char kTemplateText[] = "DIR/A,VERBOSE/S,POSITION/S,WAYPOINT/S,PICLIST/S,ALLFORMATS/S";
const char kLine[] = "IMG_1.jpg - lat = 51.5034 -  lon = 13.41 - alt = 0.245\n";

ProcessResult pintrail(std::vector<std::string> words, const std::vector<std::string> &env = {},
                       const std::string &input = "") {
  words.insert(words.begin(), PINTRAIL_BIN);
  return RunProcess(words, env, input);
}

// IMG_1.jpg to IMG_count.jpg; every third holds no GPS.
std::string picture_tree(const TempDir &dir, int count = 1) {
  std::string tree = dir / "tree";
  mkdir(tree.c_str(), 0755);
  std::string with_gps = MakeJpeg(GpsEntries(GpsFix{})), without = MakeJpeg(CameraEntries());
  for (int i = 1; i <= count; ++i)
    WriteFile(tree + "/IMG_" + std::to_string(i) + ".jpg", i % 3 ? with_gps : without);
  return tree;
}

TEST(Cli, ArgumentsHelpVersionPromptAndLocale) {
  ProcessResult wrong = pintrail({"a", "b"}); // the template's cases: ReadArgs' own test
  EXPECT_EQ(wrong.code, 10);
  EXPECT_EQ(wrong.out, "Wrong argument(s)!\n");
  ProcessResult help = pintrail({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find(kTemplateText), std::string::npos);
  EXPECT_EQ(pintrail({"--version"}).out, "pintrail 1.1 (04.07.16)\n");
  EXPECT_NE(ReadFileText(PINTRAIL_BIN).find(std::string("$VER: pintrail 1.1 (04.07.16)") + '\0'), std::string::npos);
  TempDir dir;
  std::string tree = picture_tree(dir);
  std::string shown = dir / "shown"; // the line is typed only once the prompt shows
  RunProcess({"/bin/sh", "-c", "for i in $(seq 100); do [ -s \"$1\" ] && exec echo \"\\\"$2\\\" position\"; sleep 0.05; done"
              " | \"$0\" ? > \"$1\"", PINTRAIL_BIN, shown, tree});
  EXPECT_EQ(ReadFileText(shown), std::string(kTemplateText) + ": " + kLine);
  if (RunProcess({"/usr/bin/locale", "-a"}).out.find("de_DE.utf8") != std::string::npos) {
    EXPECT_EQ(pintrail({tree, "POSITION"}, {"LC_ALL=de_DE.UTF-8"}).out, kLine);
  }
}

// Output that cannot be written is said once, ends the run, and is no success.
TEST(Cli, LostOutputEndsWithCode10) {
  TempDir dir;
  std::string tree = picture_tree(dir, 300); // more than one buffer of lines
  for (const std::vector<std::string> &argv : {std::vector<std::string>{PINTRAIL_BIN, tree, "POSITION"}, {MAPHOST_BIN}}) {
    pid_t run = StartProcess(argv, {"REXX_PORT_DIR=" + dir.path}, "/dev/full", dir / "err");
    EXPECT_EQ(StopProcess(run, 0), 10) << argv[0]; // waits for its end
    EXPECT_EQ(ReadFileText(dir / "err"),
              argv[0].substr(argv[0].rfind('/') + 1) + ": cannot write the output: No space left on device\n");
  }
  int pipe_ends[2]; // a reader that went away: the host ends quietly, not killed
  ASSERT_EQ(pipe(pipe_ends), 0);
  close(pipe_ends[0]);
  pid_t host = StartProcess({MAPHOST_BIN}, {"REXX_PORT_DIR=" + dir.path},
                            "/proc/self/fd/" + std::to_string(pipe_ends[1]), dir / "err");
  close(pipe_ends[1]);
  EXPECT_EQ(StopProcess(host, 0), 10);
  EXPECT_EQ(ReadFileText(dir / "err"), "");
}

// A DIR that cannot be read is no success (10); a folder below it that
// cannot be listed is named, the walk goes on, and the run ends with 5.
TEST(Cli, UnreadableFoldersEndWithAFailingCode) {
  TempDir dir;
  ProcessResult missing = pintrail({dir / "missing", "POSITION"});
  EXPECT_EQ(missing.code, 10);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "pintrail: cannot open " + dir / "missing" + ": No such file or directory\n");
  if (geteuid() != 0)
    GTEST_SKIP() << "reading as another user needs root";
  std::string tree = picture_tree(dir), closed = tree + "/closed";
  mkdir(closed.c_str(), 0700);
  chmod(dir.path.c_str(), 0755);
  auto as_nobody = [&](const std::string &path) {
    return RunProcess({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                       PINTRAIL_BIN, path, "POSITION"});
  };
  ProcessResult denied = as_nobody(closed), partly = as_nobody(tree);
  EXPECT_EQ(denied.code, 10);
  EXPECT_EQ(denied.err, "pintrail: cannot open " + closed + ": Permission denied\n");
  EXPECT_EQ(partly.code, 5);
  EXPECT_EQ(partly.out, kLine);
  EXPECT_EQ(partly.err, "pintrail: cannot list " + closed + ": Permission denied\n");
}

// A name that would drive a terminal reaches one escaped, and a pipe byte for byte. A map
// that is missing is said once, on standard error, and is no success.
TEST(Cli, NamesAreEscapedOnATerminalExactInAPipeAndAMissingMapEndsWith5) {
  TempDir dir;
  std::string tree = picture_tree(dir), name = "a\x1b]0;pwned\a\x1b[2Jb.jpg";
  ASSERT_EQ(rename((tree + "/IMG_1.jpg").c_str(), (tree + "/" + name).c_str()), 0);
  std::string missing = "pintrail: no map on port \"VANTORA.1\": 1 command(s) reached nothing; start the map first\n";
  auto as_shown = [](const std::string &name) { return name + " - lat = 51.5034 -  lon = 13.41 - alt = 0.245\n" + name +
      ": Send geo tags to vantora...\nNo ARexx Port found!\nYou must start Vantora first.\n"; };
  ProcessResult piped = pintrail({tree, "POSITION", "WAYPOINT"}, {"REXX_PORT_DIR=" + dir.path});
  EXPECT_EQ(piped.code, 5);
  EXPECT_EQ(piped.out, as_shown(name));
  EXPECT_EQ(piped.err, missing);
  // On a terminal (script's), run as a user does: the ports under $XDG_RUNTIME_DIR.
  ProcessResult shown = RunProcess({"/usr/bin/script", "-qec", "exec " PINTRAIL_BIN " '" + tree + "' POSITION WAYPOINT",
                                    "/dev/null"}, {"XDG_RUNTIME_DIR=" + dir.path});
  for (size_t at; (at = shown.out.find("\r\n")) != std::string::npos;)
    shown.out.erase(at, 1);
  EXPECT_EQ(shown.code, 5);
  EXPECT_EQ(shown.out, as_shown("a\\x1b]0;pwned\\x07\\x1b[2Jb.jpg") + missing);
}

// Ctrl-C at any moment of a walk: "***Break", code 20, and only whole lines on standard output.
TEST(Cli, BreakAtAnyMomentLeavesWholeLines) {
  TempDir dir;
  std::string tree = picture_tree(dir, 8000); // a walk long enough to interrupt
  int broken = 0;
  const int delays_us[] = {0, 500, 1000, 2000, 4000, 8000, 16000, 64000, -1}; // -1: after the first lines, however slow the start
  for (int i = 0; i < 18; ++i) { // each delay with reading threads and without
    int delay_us = delays_us[i / 2];
    std::string out = dir / ("out" + std::to_string(i)), err = out + ".err";
    std::string threads = i % 2 ? "PINTRAIL_THREADS=1" : "PINTRAIL_THREADS=4";
    pid_t run = StartProcess({PINTRAIL_BIN, tree, "POSITION"}, {threads}, out, err);
    delay_us < 0 ? (void)WaitFor([&] { return !ReadFileText(out).empty(); }) : (void)usleep(useconds_t(delay_us));
    kill(run, SIGINT);
    int status = 0;
    waitpid(run, &status, 0);
    std::string text = ReadFileText(out);
    if (WIFSIGNALED(status)) { // before the tool could catch it: nothing printed
      EXPECT_EQ(text, "");
      continue;
    }
    broken += WEXITSTATUS(status) == 20;
    EXPECT_EQ(ReadFileText(err), WEXITSTATUS(status) == 20 ? "***Break\n" : "");
    EXPECT_TRUE(text.empty() || text.back() == '\n') << delay_us;
    for (const std::string &line : LinesOf(text))
      EXPECT_TRUE(line.starts_with("IMG_") && (line.ends_with(".jpg - No geo tag found!") ||
                                               line.ends_with(".jpg - lat = 51.5034 -  lon = 13.41 - alt = 0.245"))) << line;
  }
  EXPECT_GT(broken, 0);
}

} // namespace
