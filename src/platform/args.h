// Command-line parsing against a template, in the manner of the platform's
// ReadArgs: "DIR/A,VERBOSE/S,POSITION/S".
//
// Items are separated by commas; each is a keyword (with "=" aliases) and its
// modifiers: /A the item must be given, /S a switch (keyword only, no value),
// /K a value that may only be given after its keyword, /N a value that must be
// a decimal number (its slot's value holds it). Keywords match without
// regard to case. A value item takes its value by position, as "KEY value" or
// as "KEY=value". A switch's slot holds -1 when given; a value item's slot
// points at the value, which lives until FreeArgs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One slot per template item. The platform keeps both in one machine word;
// here they are apart, so no pointer ever passes through an integer.
struct ArgSlot {
  const char *text = nullptr; // value items
  int32_t value = 0;          // switches
};
constexpr int32_t kSwitchOn = -1;
constexpr int kMaxArgItems = 16;

struct RDArgs {
  std::vector<std::string> values; // backing store of the text slots
};

// Parses argv[1..argc-1] (already split and unquoted by the shell) into the
// slots, one per template item, in template order. Slots of items that are
// not given keep what they held. A lone "?" prints the template and ": " and
// parses one line read from standard input instead. Returns nullptr on any
// parse error; the slots may then be partly written.
RDArgs *ReadArgs(const char *template_text, ArgSlot *slots, int argc,
                 const char *const *argv);
void FreeArgs(RDArgs *args);

struct FreeArgsDeleter {
  void operator()(RDArgs *args) const { FreeArgs(args); }
};
using ArgsHandle = std::unique_ptr<RDArgs, FreeArgsDeleter>;

// Splits a line the way the platform's shell does: blanks separate, double
// quotes group, and inside quotes "*" escapes ("*\"", "**", "*N", "*E").
std::vector<std::string> SplitArgLine(const std::string &line);

// The Linux conventions beside the template: "--help" prints usage (a
// printf format given the template) and "--version" the version line, both
// on standard output. True when argv was one of them.
bool HandleStandardOption(int argc, const char *const *argv, const char *usage,
                          const char *template_text, const char *version);
