// Console output and the break request (Ctrl-C).
//
// Every report goes through Printf, which honours a pending break before it
// writes, so standard output only ever holds whole lines when the tool ends.
#pragma once

#include <cstdio>

// Catch SIGINT into a flag; blocking waits poll that flag.
void InstallBreakHandler();
bool BreakPending();
// On a pending break: flush what was printed, say "***Break" on standard
// error and end the tool with return code 20. Otherwise do nothing.
void CheckBreak();

int Printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
void FlushOutput();

// Tests point the console at a memory stream; nullptr means standard output.
void SetOutput(FILE *stream);
FILE *Output();
