// Files a program keeps for its user alone beside the user's own (a
// journal, a database): never opened through a link, nor one of another
// user's, nor one with other names (hard links) that another user could
// have planted.
#pragma once

#include <string>

// Opens path with flags (O_CREAT creates it 0600): its descriptor; -1, with the reason,
// when it cannot be opened or is not such a file (named a "what": "journal").
int OpenOwnFile(const std::string &path, int flags, const char *what, std::string *why);
