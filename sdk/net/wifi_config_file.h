// The configuration files of the Wi-Fi tools: copies of the tool
// directory's templates, rewritten key by key.
#pragma once

#include <cstddef>

namespace zq::wifi {

// The largest file the rewriter takes; tool configurations are a few KiB.
constexpr size_t kConfigFileLimit = 64 * 1024;

// Copies board file src to dst (created or truncated). 0, or -1 when either
// cannot be opened, or a read, write or close fails.
int CopyConfigFile(const char *src, const char *dst);

// Rewrites key pSrcStr of the key=value file path in place; comment lines
// ("#" first) do not survive. value null: every line of the key is dropped.
// The key stands at the start of a line, after the line's indentation
// (spaces or tabs: wpa_supplicant reads indented lines; hostapd does not,
// and refuses such a file itself) or right after a tab. With delim (its
// characters separate the key from the value; "" and " " mean a tab) the
// key matches as a whole key followed by a separator or the end of the
// line; without delim it matches as the start of a name (removing "wpa"
// removes the "wpa_..." lines too). quote: two characters put around the
// value, or a text put after it. Returns 0; -1 (null argument, a value
// holding a line break, a value that no line takes — the file is then left
// as it was —, a file beyond kConfigFileLimit, nothing left to write, a
// short write or failed close), -2 (file cannot be opened), -22 (key of 128
// or more characters).
int WriteConfigFile(const char *path, const char *pSrcStr, const char *delim, const char *value,
                    const char *quote);

}  // namespace zq::wifi
