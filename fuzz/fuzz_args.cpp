// Arbitrary argument lists (NUL-separated words) against both templates,
// and arbitrary lines through the template prompt's splitter.
#include <string>
#include <vector>

#include "platform/args.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string bytes(reinterpret_cast<const char *>(data), size);
  std::vector<std::string> words{"pintrail"};
  size_t start = 0;
  for (size_t at = 0; at <= bytes.size() && words.size() < 64; ++at) {
    if (at == bytes.size() || bytes[at] == '\0') {
      words.push_back(bytes.substr(start, at - start));
      start = at + 1;
    }
  }
  if (words.size() == 2 && words[1] == "?")
    return 0; // the prompt reads standard input
  std::vector<const char *> argv;
  for (const std::string &word : words)
    argv.push_back(word.c_str());
  for (const char *tmpl : {"DIR/A,VERBOSE/S,POSITION/S,WAYPOINT/S,PICLIST/S",
                           "PORT/K,GPX/K,QUIET/S"}) {
    ArgSlot slots[kMaxArgItems];
    ArgsHandle args(ReadArgs(tmpl, slots, static_cast<int>(argv.size()), argv.data()));
    if (args && slots[0].text)
      (void)std::string(slots[0].text);
  }
  SplitArgLine(bytes);
  return 0;
}
