/* Wi-Fi: the life cycle of the Wi-Fi interface, access-point and station
 * modes, scans, channel and link information. Everything runs through the
 * board's tools ("iw", "wpa_supplicant", "hostapd" from the tool directory
 * given to ZQSDK_WifiInit; "udhcpc", "udhcpd", "dnsd", "ifconfig", "route"
 * from the system). */
#ifndef ZQ_WIFI_H
#define ZQ_WIFI_H

#include "zq_common.h"
#include "zq_net.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One network: a scan result or the current station link. Every text field
 * is NUL-terminated. */
typedef struct WifiInfo {
    char szBssid[18];  /* "02:11:22:33:44:55" (scan only) */
    char szSsid[128];  /* decoded SSID (scan) or the configured one (link) */
    char szPsk[128];   /* pre-shared key text (link only) */
    s32 s32Channel;    /* primary channel (scan only) */
    s32 s32Quality;    /* signal quality, 0 to 100 */
    char szReserved[16];
    s32 bOpen; /* 1: no encryption; 0: WPA/RSN */
} WifiInfo;

ZQ_LAYOUT_CHECK(WifiInfo, sizeof(WifiInfo) == 304 && offsetof(WifiInfo, szSsid) == 18 &&
                              offsetof(WifiInfo, szPsk) == 146 &&
                              offsetof(WifiInfo, s32Channel) == 276 &&
                              offsetof(WifiInfo, s32Quality) == 280 &&
                              offsetof(WifiInfo, szReserved) == 284 &&
                              offsetof(WifiInfo, bOpen) == 300);

/* The caller's array for ZQSDK_WifiGetList. */
typedef struct WifiList {
    s32 s32Count;       /* capacity of pstInfo, also the most entries returned */
    WifiInfo *pstInfo;  /* s32Count records */
} WifiList;

#if defined(ZQ_ABI_ARM32)
ZQ_LAYOUT_CHECK(WifiList, sizeof(WifiList) == 8 && offsetof(WifiList, pstInfo) == 4);
#elif defined(ZQ_ABI_LP64)
ZQ_LAYOUT_CHECK(WifiList, sizeof(WifiList) == 16 && offsetof(WifiList, pstInfo) == 8);
#endif

/* The access point ZQSDK_WifiCreateAp makes. */
typedef struct WifiApParam {
    char szSsid[128];   /* network name; must not be empty */
    char szPasswd[128]; /* WPA2 passphrase; empty: open network */
    u32 s32Channel;     /* channel, given to hostapd as it is; 0: channel 6 */
    char szIp[16];      /* dotted address of the access point; empty: 192.168.10.1 */
} WifiApParam;

ZQ_LAYOUT_CHECK(WifiApParam, sizeof(WifiApParam) == 276 &&
                                 offsetof(WifiApParam, szPasswd) == 128 &&
                                 offsetof(WifiApParam, s32Channel) == 256 &&
                                 offsetof(WifiApParam, szIp) == 260);

/* Kills the Wi-Fi tools left running, prepares the working directories,
 * checks the tool directory pConfigPath ("iw", "wpa_supplicant", "hostapd",
 * "hostapd.conf", "wpa_wpa2.conf", "udhcpd.conf", "udhcpc.script") and the
 * interface pEthName, and brings the interface up. type is the adapter type
 * (0: keep the one set before). 0 or -1. A name no interface can have (empty,
 * over 15 characters, or other than letters, digits, '.', '-', '_') and a
 * tool directory of 128 or more characters are refused before anything is
 * killed. Until an interface is set, the other operations return -1 (exit
 * returns 0). */
ZQ_API int ZQSDK_WifiInit(const char *pEthName, const char *pConfigPath, int type) ZQ_NOEXCEPT;

/* Rebuilds the interface in WIFI_MODE_MANAGED or WIFI_MODE_MONITOR (zq_net.h)
 * after killing the tools of either role. 0 when the interface is in that
 * mode afterwards; -1 otherwise. */
ZQ_API int ZQSDK_WifiSwitchMode(unsigned mode) ZQ_NOEXCEPT;

/* Abandons a waiting station connection, returns the interface to managed
 * mode, kills the Wi-Fi tools and forgets the interface. Returns 0. */
ZQ_API int ZQSDK_WifiExit(void) ZQ_NOEXCEPT;

/* Makes the interface an access point: "hostapd", "udhcpd" and, where the
 * board has it, "dnsd". 0 when they were started; -1 for a null record, an
 * interface not in managed mode, an SSID not of 1 to 32 bytes without control
 * characters, a passphrase neither empty nor 8 to 63 printable ASCII
 * characters, an address that is not a plain dotted IPv4 address, or a file
 * or hostapd start that failed. These are checked before anything is killed
 * or written. The channel is hostapd's to judge: one that the configuration's
 * hw_mode lacks makes hostapd refuse to start, and the call returns -1. A
 * station connection still waiting is abandoned (it returns 1). */
ZQ_API int ZQSDK_WifiCreateAp(const WifiApParam *param) ZQ_NOEXCEPT;

/* Joins the network pSsid (pPasswd null or empty: open) and waits, up to
 * about 93 seconds, for the association and an address. 0: joined and
 * addressed; -1: refused request (SSID not 1 to 32 bytes without control
 * characters, passphrase not 8 to 63 printable ASCII characters, another
 * connection still running), a configuration that could not be written, or
 * no address in time; -2: the supplicant log cannot be read or the
 * handshake failed twice; 1: abandoned by ZQSDK_WifiExit or
 * ZQSDK_WifiCreateAp on another thread. */
ZQ_API int ZQSDK_WifiConnectSTA(const char *pSsid, const char *pPasswd) ZQ_NOEXCEPT;

/* Scans and fills list->pstInfo with the first list->s32Count networks
 * heard, strongest first. The number filled, or -1 (also when iw gives no
 * answer within 15 seconds: it is then stopped). A network is listed only
 * when its beacon carries an HT operation element (every 802.11n or later
 * access point): the primary channel comes from there, so an 802.11b/g-only
 * access point is not listed, though ZQSDK_WifiConnectSTA joins it. */
ZQ_API int ZQSDK_WifiGetList(WifiList *list) ZQ_NOEXCEPT;

/* Scans for the first network named pSsid (listed as ZQSDK_WifiGetList
 * lists); info is all zero when none was heard. 0 or -1. */
ZQ_API int ZQSDK_WifiGetInfoBySsid(const char *pSsid, WifiInfo *info) ZQ_NOEXCEPT;

/* Tunes the interface, which must be in monitor mode, to channel. 0 or -1. */
ZQ_API int ZQSDK_WifiSwitchChannel(int channel) ZQ_NOEXCEPT;

/* The station link: quality from the link, SSID, key and openness from the
 * station configuration. 0 or -1. */
ZQ_API int ZQSDK_WifiGetLocalInfo(WifiInfo *info) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_WIFI_H */
