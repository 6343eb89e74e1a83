// Work done apart: each piece in a child process of its own, limited in
// memory and time, so that no piece can take the caller's memory, time or
// life. The children are forked from a small helper process started before
// any thread, so a fork costs little whatever the caller has grown to.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

struct ApartLimits {
  size_t most_bytes;  // address space the child may take beyond what it starts with
  int cpu_seconds;    // its processor time
  int wall_seconds;   // then it is killed, however it spends its time
};

// The work a child does: output for input, and whether it succeeded.
using ApartWork = bool (*)(int kind, const std::string &input, std::string &output);

struct Apart;
struct ApartStop {
  void operator()(Apart *apart) const; // ends the helper and its child
};
using ApartHandle = std::unique_ptr<Apart, ApartStop>;

// Starts the helper, which runs work in a child for each request; call it
// before any thread starts. nullptr when it cannot be started.
ApartHandle StartApart(ApartWork work, const ApartLimits &limits);

// A moment on the steady clock, as its count of ticks, that a caller may
// move while a request waits; kNever: none.
using GiveUp = std::atomic<int64_t>;
constexpr int64_t kNever = INT64_MAX;

// The output of work for input, done in a child; false when the child
// failed, went past its limits or the helper is gone, and at once when the
// clock passes give_up. One request at a time; callers take turns.
bool DoApart(Apart &apart, int kind, const std::string &input, std::string &output, const GiveUp &give_up);
