// Scans: ZQSDK_WifiGetList, ZQSDK_WifiGetInfoBySsid and the parser of the
// scan tool's output they share.
#include "net/wifi_scan.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "net/wifi_command.h"
#include "net/wifi_kill.h"
#include "net/wifi_state.h"
#include "port/port.h"
#include "zq_log.h"

namespace zq::wifi {
namespace {

constexpr size_t kMacLength = 17;
enum Field : unsigned { kBss = 1, kSignal = 2, kSsid = 4, kChannel = 8, kComplete = 15 };

bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int hex_value(char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// "02:11:22:33:44:55" as the tool prints an address.
bool is_mac(std::string_view text) {
    if (text.size() < kMacLength) return false;
    for (size_t i = 0; i < kMacLength; ++i)
        if (i % 3 == 2 ? text[i] != ':' : !is_hex(text[i])) return false;
    return true;
}

// A block starts only at a line "BSS " and an address, alone or followed by
// "(on wlan0)" or a blank: never at "\tBSS Load:" or an SSID holding "BSS".
bool starts_block(std::string_view line) {
    if (!starts_with(line, "BSS ")) return false;
    std::string_view rest = line.substr(4);
    return is_mac(rest) &&
           (rest.size() == kMacLength || rest[kMacLength] == '(' || rest[kMacLength] == ' ');
}

std::string_view without_indent(std::string_view line) {
    size_t at = line.find_first_not_of(" \t");
    return at == std::string_view::npos ? std::string_view() : line.substr(at);
}

// A number at the start of text (after blanks), as a finite double.
bool leading_number(std::string_view text, double *value) {
    char buffer[64];
    size_t n = std::min(text.size(), sizeof buffer - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    char *end = nullptr;
    double parsed = std::strtod(buffer, &end);
    if (end == buffer || !std::isfinite(parsed)) return false;
    *value = parsed;
    return true;
}

// The block being read.
struct Block {
    WifiInfo info{};
    unsigned fields = 0;
    bool rsn = false;

    bool complete() const { return fields == kComplete; }
    WifiInfo result() const {
        WifiInfo out = info;
        out.bOpen = rsn ? 0 : 1;
        return out;
    }
};

// Applies one line to the block; a line that starts a block resets it, so
// that nothing (a name above all) carries over from the previous one.
void apply_line(Block &block, std::string_view line) {
    if (starts_block(line)) {
        block = Block{};
        std::memcpy(block.info.szBssid, line.data() + 4, kMacLength);
        block.fields = kBss;
        return;
    }
    std::string_view text = without_indent(line);
    double number = 0;
    if (starts_with(text, "signal:")) {
        if (!leading_number(text.substr(7), &number)) return;
        block.info.s32Quality = ScanQuality(number);
        block.fields |= kSignal;
    } else if (starts_with(text, "SSID:")) {
        std::string_view name = text.substr(5);
        if (starts_with(name, " ")) name.remove_prefix(1);
        DecodeSsid(name, block.info.szSsid);
        block.fields |= kSsid;
    } else if (starts_with(text, "* primary channel:")) {
        if (!leading_number(text.substr(18), &number) || number < 0 || number > 1000) return;
        block.info.s32Channel = static_cast<s32>(number);
        block.fields |= kChannel;
    } else if (starts_with(text, "RSN:")) {
        block.rsn = true;
    }
}

// Strongest first; equal qualities stay in scan order.
void order_by_quality(WifiInfo *list, int used) {
    std::stable_sort(list, list + used, [](const WifiInfo &a, const WifiInfo &b) {
        return a.s32Quality > b.s32Quality;
    });
}

}  // namespace

void DecodeSsid(std::string_view text, char (&out)[128]) {
    size_t n = 0;
    for (size_t i = 0; i < text.size() && n < sizeof out - 1; ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && is_hex(text[i + 2]) &&
            is_hex(text[i + 3])) {
            char byte = static_cast<char>(hex_value(text[i + 2]) * 16 + hex_value(text[i + 3]));
            if (byte != '\0') out[n++] = byte;
            i += 3;
        } else {
            out[n++] = text[i];
        }
    }
    out[n] = '\0';
}

int ScanQuality(double dbm) {
    // The magnitude in whole dBm, as the tool's two decimals are read.
    double magnitude = std::trunc(-dbm);
    if (magnitude >= 100) return 0;
    if (magnitude <= 50) return 100;
    return 2 * (100 - static_cast<int>(magnitude));
}

int LinkQuality(long dbm) {
    if (dbm >= 0 || dbm <= -100) return 0;
    if (dbm >= -40) return 100;
    if (dbm >= -50) return static_cast<int>(2 * (dbm + 90));
    if (dbm >= -80) return static_cast<int>(dbm + 129);
    return static_cast<int>(2 * (dbm + 100));
}

int CollectScanList(const ScanLines &lines, WifiInfo *out, int capacity) {
    // The first `capacity` complete blocks in scan order, then ordered: the
    // same list as inserting each by quality, without moving records on
    // every insertion.
    int used = 0;
    Block block;
    std::string line;
    while (used < capacity && lines(&line)) {
        if (starts_block(line) && block.complete()) {
            out[used++] = block.result();
            block = Block{};
            if (used == capacity) break;
        }
        apply_line(block, line);
    }
    if (used < capacity && block.complete()) out[used++] = block.result();
    order_by_quality(out, used);
    return used;
}

bool FindScanSsid(const ScanLines &lines, const char *ssid, WifiInfo *out) {
    Block block;
    std::string line;
    auto matches = [&] { return block.complete() && std::strcmp(block.info.szSsid, ssid) == 0; };
    while (lines(&line)) {
        if (starts_block(line) && matches()) break;
        apply_line(block, line);
    }
    if (!matches()) return false;
    *out = block.result();
    return true;
}

}  // namespace zq::wifi

namespace zq::wifi {
namespace {

constexpr int64_t kApSettleMs = 3000;
constexpr int kAdapterWithScanHold = 3;
// iw prints a scan's results all at once when the kernel reports the scan
// done; it starts listening only after it has asked for the scan, so it
// can miss that report and wait for ever. A scan takes a few seconds.
constexpr int kScanLimitMs = 15000;

std::string scan_command() {
    return compose({tool_word("/iw"), " dev ", g_WifiState.g_EthName,
                    " scan | egrep 'BSS|signal|SSID|primary channel|RSN' | sed '/OBSS/d'"});
}

// The pipeline's lines for the parser.
ScanLines lines_of(FILE *pipe) {
    return [pipe](std::string *line) { return read_line(pipe, line); };
}

FILE *start_scan(const std::string &command) {
    if (command.empty()) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    return open_pipeline(command);
}

// Waits, before anything is read from it, for the pipeline's first output
// (or its end). When the scan gives nothing in time, its iw is killed, so
// that the pipeline ends, and false comes back.
bool scan_answered(FILE *pipe) {
    pollfd wait{fileno(pipe), POLLIN, 0};
    int ready;
    do {
        ready = zq::port::poll(&wait, 1, kScanLimitMs);
    } while (ready < 0 && errno == EINTR);
    if (ready > 0) return true;
    ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Scan on %s gave no answer in %d s, stopped\n",
              g_WifiState.g_EthName, kScanLimitMs / 1000);
    KillIwProcess();
    return false;
}

}  // namespace
}  // namespace zq::wifi

using namespace zq::wifi;

extern "C" int ZQSDK_WifiGetList(WifiList *list) noexcept {
    if (!list || !list->pstInfo || list->s32Count <= 0) return -1;
    if (!WIFI_READY_IN_MODE(WIFI_MODE_MANAGED)) return -1;
    std::memset(list->pstInfo, 0, static_cast<size_t>(list->s32Count) * sizeof(WifiInfo));
    // One scan at a time: each kills any running "iw" first.
    std::lock_guard<std::mutex> hold(g_WifiState.g_ScanMutex);
    const std::string command = scan_command();
    KillIwProcess();
    // A freshly started access point of this adapter needs a moment before
    // the radio can scan.
    if (g_WifiState.g_EthType == kAdapterWithScanHold && g_WifiState.g_ApStartMs != 0) {
        int64_t since = GetMonotonicMs() - g_WifiState.g_ApStartMs;
        if (since < kApSettleMs) zq::port::sleep_ms(static_cast<uint64_t>(kApSettleMs - since));
    }
    FILE *pipe = start_scan(command);
    if (!pipe) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "popen %s failed, %s\n", command.c_str(),
                  std::strerror(errno));
        return -1;
    }
    if (!scan_answered(pipe)) {
        close_pipeline(pipe);
        return -1;
    }
    int filled = CollectScanList(lines_of(pipe), list->pstInfo, list->s32Count);
    close_pipeline(pipe);
    return filled;
}

extern "C" int ZQSDK_WifiGetInfoBySsid(const char *pSsid, WifiInfo *info) noexcept {
    if (!pSsid || !info) return -1;
    if (!WIFI_READY_IN_MODE(WIFI_MODE_MANAGED)) return -1;
    std::lock_guard<std::mutex> hold(g_WifiState.g_ScanMutex);
    const std::string command = scan_command();
    KillIwProcess();
    FILE *pipe = start_scan(command);
    if (!pipe) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "popen %s failed, %s\n", command.c_str(),
                  std::strerror(errno));
        return -1;
    }
    if (!scan_answered(pipe)) {
        close_pipeline(pipe);
        return -1;
    }
    WifiInfo found{};
    FindScanSsid(lines_of(pipe), pSsid, &found);
    close_pipeline(pipe);
    *info = found;
    return 0;
}
