// The host-safety walk: on a virtual board no command may name a host path
// outside the board directory.
#pragma once

#include <string>
#include <vector>

// The journal lines (whole, as given) that name a host path outside the
// board at boardDir: shell commands with such a word (an absolute path, a
// redirection's target, a path glued to an option or after "key="), and
// the board tools' refusals of such paths. Patterns of sed, grep, egrep and
// awk are not paths; /dev/null is allowed.
std::vector<std::string> host_paths_outside_board(const std::string &journalText,
                                                  const std::string &boardDir);
