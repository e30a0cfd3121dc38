/* Network interface queries of the Wi-Fi unit. */
#ifndef ZQ_NET_H
#define ZQ_NET_H

#include "zq_common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Addresses of one interface as text; every field is NUL-terminated, and a
 * field the query did not reach is empty. */
typedef struct EthAttr {
    char szMac[18];     /* "02:5a:51:3e:08:12", as the kernel prints it */
    char szIp[16];      /* IPv4 address, dotted decimal */
    char szNetmask[16]; /* IPv4 netmask, dotted decimal */
    char szGateway[16]; /* gateway of the interface's first route ("0.0.0.0": none) */
} EthAttr;

ZQ_LAYOUT_CHECK(EthAttr, sizeof(EthAttr) == 66 && offsetof(EthAttr, szIp) == 18 &&
                             offsetof(EthAttr, szNetmask) == 34 &&
                             offsetof(EthAttr, szGateway) == 50);

/* Modes of the Wi-Fi interface. */
#define WIFI_MODE_MANAGED 0
#define WIFI_MODE_MONITOR 1

/* Fills attr with the MAC, IPv4 address, netmask and gateway of interface
 * name. 0 when the address requests succeeded, -1 otherwise; the MAC is read
 * before the address requests, so it is there even when the interface has
 * no IPv4 address yet. Either pointer null: -1 and attr untouched. A name no
 * interface can have (empty, over 15 characters, "." or "..", or any
 * character but letters, digits, '.', '-' and '_') is an interface that
 * does not exist: no path is opened and no request made with it. Nothing is
 * cached; safe from several threads. */
ZQ_API int ZQSDK_WifiGetEthAttr(const char *name, EthAttr *attr) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_NET_H */
