#include "platform/console.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstring>
#include <unistd.h>

#include "platform/printable.h"

namespace {

volatile sig_atomic_t break_flag = 0;
FILE *output_stream = nullptr;
// Whether standard output and standard error are terminals; -1 until asked.
int output_terminal = -1, error_terminal = -1;

std::string shown_on(const char *text, FILE *stream, int &terminal) {
  if (terminal < 0)
    terminal = isatty(fileno(stream));
  return terminal ? PrintableText(text) : std::string(text);
}

void on_break(int) { break_flag = 1; }

void catch_into_break_flag(int signal, int flags) {
  struct sigaction action {};
  action.sa_handler = on_break;
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;
  sigaction(signal, &action, nullptr);
}

} // namespace

void InstallBreakHandler() {
  catch_into_break_flag(SIGINT, SA_RESTART); // poll() still returns EINTR, reads resume
}

void InstallStopHandler() {
  for (int stop : {SIGINT, SIGTERM, SIGHUP})
    catch_into_break_flag(stop, 0);
  signal(SIGPIPE, SIG_IGN);
}

bool BreakPending() { return break_flag != 0; }

const volatile sig_atomic_t *BreakFlag() { return &break_flag; }

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
  errno = 0;
  int written = vfprintf(Output(), format, args);
  va_end(args);
  if (written < 0 || ferror(Output())) {
    ReportLostOutput(errno);
    _exit(kOutputLost);
  }
  return written;
}

int FlushOutput() { return FlushStream(Output()) ? 0 : kOutputLost; }

void PrintError(const char *format, ...) {
  CheckBreak();
  fflush(Output());
  fprintf(stderr, "%s: ", program_invocation_short_name);
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
}

void ReportLostOutput(int error) {
  if (error == EPIPE)
    return;
  char message[256];
  int length = snprintf(message, sizeof message, "%s: cannot write the output: %s\n",
                        program_invocation_short_name, strerror(error ? error : EIO));
  if (length > 0) {
    ssize_t ignored = write(STDERR_FILENO, message, strnlen(message, sizeof message));
    (void)ignored;
  }
}

bool FlushStream(FILE *stream) {
  errno = 0;
  if (fflush(stream) == 0 && !ferror(stream))
    return true;
  ReportLostOutput(errno);
  return false;
}

std::string Shown(const char *text) { return shown_on(text, Output(), output_terminal); }

std::string ShownOnError(const char *text) { return shown_on(text, stderr, error_terminal); }

void SetOutput(FILE *stream) {
  output_stream = stream;
  output_terminal = -1;
}

FILE *Output() { return output_stream ? output_stream : stdout; }
