// Console output and the break request (Ctrl-C).
//
// Every report goes through Printf, which honours a pending break before it
// writes, so standard output only ever holds whole lines when the tool ends.
#pragma once

#include <csignal>
#include <cstdio>
#include <string>

// Catch SIGINT into the break flag; blocking waits poll that flag.
void InstallBreakHandler();
// A daemon's stop: SIGINT, SIGTERM and SIGHUP set the same flag, and a
// reader gone away (SIGPIPE) is an error of the write, not the end.
void InstallStopHandler();
bool BreakPending();
// The flag itself, for waits that take one.
const volatile sig_atomic_t *BreakFlag();
// On a pending break: flush what was printed, say "***Break" on standard
// error and end the tool with return code 20. Otherwise do nothing.
void CheckBreak();

// The return code when standard output cannot be written.
constexpr int kOutputLost = 10;

// Prints to the console. When the output cannot be written, says so once
// (ReportLostOutput) and ends the tool with kOutputLost.
int Printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Returns kOutputLost, having said why, when what was printed is lost; else 0.
int FlushOutput();
// "PROGRAM: " and the message, one line on standard error, after what was
// printed so far: for trouble that standard output's readers must not see.
void PrintError(const char *format, ...) __attribute__((format(printf, 1, 2)));

// "PROGRAM: cannot write the output: REASON" on standard error; nothing
// when the reader went away (EPIPE), which ends a Unix tool quietly.
void ReportLostOutput(int error);
// Flushes stream: false, having reported it, when anything was lost.
bool FlushStream(FILE *stream);

// text as it may be printed on standard output (Shown) or standard error
// (ShownOnError): on a terminal with its control characters and bidi
// controls escaped (PrintableText), so a file name cannot drive the
// terminal; in a pipe or a file the bytes as they are, which scripts read.
std::string Shown(const char *text);
std::string ShownOnError(const char *text);

// Tests point the console at a memory stream; nullptr means standard output.
void SetOutput(FILE *stream);
FILE *Output();
