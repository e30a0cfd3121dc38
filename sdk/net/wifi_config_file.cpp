// Copying and rewriting the Wi-Fi tools' configuration files.
#include "net/wifi_config_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "net/wifi_command.h"
#include "port/port.h"
#include "zq_log.h"

namespace zq::wifi {
namespace {

constexpr size_t kKeyLimit = 127;

struct FileClose {
    FILE *file;
    ~FileClose() {
        if (file) zq::port::fclose(file);
    }
    // Closes now; false when the close (the last flush) fails.
    bool close() {
        FILE *f = file;
        file = nullptr;
        return zq::port::fclose(f) == 0;
    }
};

// Where the key stands in line, or npos: at the start of the line, after
// its indentation (the supplicant's own examples indent their network
// blocks), or right after a tab ("opt<TAB>dns" of the DHCP server).
size_t find_key(std::string_view line, std::string_view key, std::string_view separators,
                bool whole) {
    auto stands_at = [&](size_t at) {
        if (line.compare(at, key.size(), key) != 0) return false;
        size_t end = at + key.size();
        return !whole || end == line.size() || separators.find(line[end]) != std::string_view::npos;
    };
    size_t indent = line.find_first_not_of(" \t");
    if (indent == std::string_view::npos) return indent;
    if (stands_at(indent)) return indent;
    for (size_t tab = line.find('\t'); tab != std::string_view::npos;
         tab = line.find('\t', tab + 1))
        if (stands_at(tab + 1)) return tab + 1;
    return std::string_view::npos;
}

// The rewritten form of a line whose key stands at `at`.
std::string rewrite_line(std::string_view line, size_t at, std::string_view key, const char *delim,
                         std::string_view separators, std::string_view value,
                         std::string_view quote) {
    std::string opening, closing;
    if (quote.size() == 2) {
        opening = quote.substr(0, 1);
        closing = quote.substr(1, 1);
    } else {
        closing = quote;
    }
    size_t valueAt = at + key.size();
    std::string_view tail;
    std::string separator;
    if (delim) {
        // The old value starts after the run of separators. A bare key gets
        // one ("ssid" becomes "ssid=value"); "ssid=" keeps its own.
        if (valueAt == line.size()) separator = separators.substr(0, 1);
        valueAt = std::min(line.find_first_not_of(separators, valueAt), line.size());
        // A comment after a tab survives; a separator inside the old value
        // ("a=b" of a passphrase) is part of what is replaced.
        size_t tab = line.find('\t', valueAt);
        if (tab != std::string_view::npos) tail = line.substr(tab);
    }
    std::string out(line.substr(0, valueAt));
    out += separator;
    out += opening;
    out += value;
    out += closing;
    out += tail;
    return out;
}

}  // namespace

int CopyConfigFile(const char *src, const char *dst) {
    if (!src || !dst) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Error: cp file failed, src file %s dest file %s\n",
                  src ? src : "(null)", dst ? dst : "(null)");
        return -1;
    }
    FileClose in{zq::port::fopen(src, "r")};
    if (!in.file) {
        std::printf("Can not open %s \n", src);
        return -1;
    }
    FileClose out{zq::port::fopen(dst, "w+")};
    if (!out.file) {
        std::printf("Can not create %s \n", dst);
        return -1;
    }
    char piece[4096];
    bool copied = true;
    for (size_t n; (n = std::fread(piece, 1, sizeof piece, in.file)) > 0;)
        if (std::fwrite(piece, 1, n, out.file) != n) copied = false;
    copied = !std::ferror(in.file) && copied;
    copied = out.close() && copied;
    if (!copied) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Error: cp file failed, src file %s dest file %s\n", src,
                  dst);
        return -1;
    }
    return 0;
}

int WriteConfigFile(const char *path, const char *pSrcStr, const char *delim, const char *value,
                    const char *quote) {
    if (!path || !pSrcStr) return -1;
    size_t keyLength = std::strlen(pSrcStr);
    if (keyLength > kKeyLimit) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Strlen error, pSrcStr len %d\n",
                  static_cast<int>(keyLength > 0x7FFFFFFF ? 0x7FFFFFFF : keyLength));
        return -22;
    }
    // A value is one line of the file: a line break would add directives.
    if (value && std::strpbrk(value, "\n\r")) return -1;
    std::string_view key(pSrcStr, keyLength);
    std::string separators = !delim || delim[0] == '\0' || std::strcmp(delim, " ") == 0
                                 ? std::string("\t")
                                 : std::string(delim);
    std::string content;
    {
        FileClose in{zq::port::fopen(path, "r")};
        if (!in.file) {
            ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "open %s failed\n", path);
            return -2;
        }
        size_t consumed = 0;
        bool taken = false;
        for (std::string line; read_line(in.file, &line);) {
            consumed += line.size() + 1;
            if (consumed > kConfigFileLimit) {
                ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Config file too large, %s\n", path);
                return -1;
            }
            if (!line.empty() && line[0] == '#') continue;
            size_t at =
                key.empty() ? std::string::npos : find_key(line, key, separators, delim != nullptr);
            if (at != std::string::npos && !value) continue;
            if (at != std::string::npos) {
                line = rewrite_line(line, at, key, delim, separators, value, quote ? quote : "");
                taken = true;
            }
            content += line;
            content += '\n';
        }
        // A value that no line takes would leave the tool on the template's
        // setting (an open access point, the template's network): a failure.
        if (value && !taken) {
            ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "No line for key %s in %s\n", pSrcStr, path);
            return -1;
        }
    }
    FileClose out{zq::port::fopen(path, "w+")};
    if (!out.file) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "open %s failed\n", path);
        return -2;
    }
    bool written = !content.empty() &&
                   std::fwrite(content.data(), 1, content.size(), out.file) == content.size();
    written = out.close() && written;
    if (!written) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "write host config file error\n");
        return -1;
    }
    return 0;
}

}  // namespace zq::wifi
