// The process of a daemon: going into the background once ready, and
// starting other programs without keeping them as children.
#pragma once

#include <string>

// Forks into the background. Returns only in the child, a new session's
// leader, with the descriptor it hands to ReportReady; the parent waits
// for that, prints what the child reported and exits 0, or exits with
// failed when the child ended without a word. -1 when no child could be
// made (errno says why).
int DetachWhenReady(int failed);
// Hands lines to the waiting parent, then lets go of the console:
// standard input, output and error become /dev/null.
void ReportReady(int ready, const std::string &lines);

// Whether PATH (or "/usr/bin:/bin" without one) holds an executable name,
// as execlp would find it.
bool HaveProgram(const char *name);
// Runs program with one argument in a grandchild, its output to /dev/null,
// so no child is left to reap; returns at once.
void SpawnAway(const char *program, const std::string &argument);
