#include "platform/console.h"

#include <csignal>
#include <cstdarg>
#include <unistd.h>

namespace {

volatile sig_atomic_t break_flag = 0;
FILE *output_stream = nullptr;

void on_break(int) { break_flag = 1; }

} // namespace

void InstallBreakHandler() {
  struct sigaction action {};
  action.sa_handler = on_break;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART; // poll() still returns EINTR, reads resume
  sigaction(SIGINT, &action, nullptr);
}

bool BreakPending() { return break_flag != 0; }

void CheckBreak() {
  if (!break_flag)
    return;
  fflush(Output());
  static const char message[] = "***Break\n";
  ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
  (void)ignored;
  _exit(20);
}

int Printf(const char *format, ...) {
  CheckBreak();
  va_list args;
  va_start(args, format);
  int written = vfprintf(Output(), format, args);
  va_end(args);
  return written;
}

void FlushOutput() { fflush(Output()); }

void SetOutput(FILE *stream) { output_stream = stream; }

FILE *Output() { return output_stream ? output_stream : stdout; }
