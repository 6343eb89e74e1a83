// The web view's address kept beside its store, so that a bookmark of the
// page outlives a restart of its host: the port and the token.
#pragma once

#include <string>

struct WebAddress {
  int port = 0; // 0: none kept
  std::string token;
};

// The address kept in the file at path; none when there is none, or the
// file holds anything but one.
WebAddress ReadWebAddress(const std::string &path);

// Keeps address in the file at path, made 0600 for this user alone; false,
// with the reason, when it cannot be written or is a file planted there.
bool KeepWebAddress(const std::string &path, const WebAddress &address, std::string *why);
