/* Lists the Wi-Fi networks in range, strongest first, and joins one.
 *
 *   wifi_join                         list the networks
 *   wifi_join SSID [PASSPHRASE]       list them, then join SSID (open without a passphrase)
 *
 * The interface is "wlan0" and the Wi-Fi tools are in "/usr/wifi"; set
 * WIFI_IF and WIFI_TOOLS to use others. Joining waits for the association
 * and an address, up to about a minute and a half.
 * On a virtual board: vboard create board; vboard wifi board add Garden
 * --passphrase 'green leaves'; ZQ_VBOARD=board ./wifi_join Garden 'green leaves'
 * (see docs/virtual-board.md). */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zq_net.h"
#include "zq_wifi.h"

#define MAX_NETWORKS 32

static const char *setting(const char *name, const char *fallback) {
    const char *value = getenv(name);
    return value && *value ? value : fallback;
}

/* SSIDs may hold any bytes: unprintable ones are shown as \xHH. */
static void print_ssid(const char *ssid) {
    const unsigned char *c;
    for (c = (const unsigned char *)ssid; *c; ++c) {
        if (*c < 0x20 || *c >= 0x7f || *c == '\\')
            printf("\\x%02x", *c);
        else
            putchar(*c);
    }
}

static int list_networks(void) {
    static WifiInfo found[MAX_NETWORKS];
    WifiList list;
    int count, i;

    list.s32Count = MAX_NETWORKS;
    list.pstInfo = found;
    count = ZQSDK_WifiGetList(&list);
    if (count < 0) {
        fprintf(stderr, "the scan failed\n");
        return -1;
    }
    printf("%d network%s in range\n", count, count == 1 ? "" : "s");
    for (i = 0; i < count; ++i) {
        printf("  %3d%%  ch %-3d %s  %-4s  ", (int)found[i].s32Quality, (int)found[i].s32Channel,
               found[i].szBssid, found[i].bOpen ? "open" : "wpa2");
        print_ssid(found[i].szSsid);
        putchar('\n');
    }
    return 0;
}

static const char *join_result(int result) {
    switch (result) {
        case 0:
            return "joined";
        case 1:
            return "abandoned";
        case -2:
            return "the handshake failed (wrong passphrase?)";
        default:
            return "no address in time, or the request was refused";
    }
}

static int join(const char *ssid, const char *passphrase, const char *ifname) {
    WifiInfo link;
    EthAttr attr;
    int result;

    printf("joining ");
    print_ssid(ssid);
    printf("\n");
    fflush(stdout);
    result = ZQSDK_WifiConnectSTA(ssid, passphrase);
    printf("%s\n", join_result(result));
    if (result != 0) return -1;
    if (ZQSDK_WifiGetLocalInfo(&link) == 0) {
        printf("link: ");
        print_ssid(link.szSsid);
        printf(", quality %d%%, %s\n", (int)link.s32Quality, link.bOpen ? "open" : "wpa2");
    }
    if (ZQSDK_WifiGetEthAttr(ifname, &attr) == 0)
        printf("address %s netmask %s gateway %s\n", attr.szIp, attr.szNetmask,
               attr.szGateway[0] ? attr.szGateway : "none");
    return 0;
}

int main(int argc, char **argv) {
    const char *ifname = setting("WIFI_IF", "wlan0");
    const char *tools = setting("WIFI_TOOLS", "/usr/wifi");
    int status = 0;

    if (argc > 3 || (argc > 1 && strcmp(argv[1], "--help") == 0)) {
        fprintf(stderr, "usage: wifi_join [SSID [PASSPHRASE]]\n");
        return 2;
    }
    if (ZQSDK_WifiInit(ifname, tools, 1) != 0) {
        fprintf(stderr, "Wi-Fi cannot be started on %s with the tools in %s\n", ifname, tools);
        return 1;
    }
    if (list_networks() != 0) status = 1;
    if (status == 0 && argc > 1 && join(argv[1], argc > 2 ? argv[2] : NULL, ifname) != 0)
        status = 1;
    /* Joined: leave the link up for the application. Otherwise tidy up. */
    if (status != 0 || argc == 1) ZQSDK_WifiExit();
    return status;
}
