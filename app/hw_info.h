/* HwInfo: the 134-byte identity payload that the provisioning tool stores in
 * the device identity record. Texts are NUL-padded, their last byte 0. */
#ifndef ZQ_HW_INFO_H
#define ZQ_HW_INFO_H

#include <stddef.h>

#include "zq_common.h"

typedef struct HwInfo {
    char szAppId[32];
    char szUuid[32];
    char szKey[64];
    u8 au8Mac[6]; /* MAC of eth2, first octet first */
} HwInfo;

ZQ_LAYOUT_CHECK(HwInfo, sizeof(HwInfo) == 134 && offsetof(HwInfo, szUuid) == 32 &&
                            offsetof(HwInfo, szKey) == 64 && offsetof(HwInfo, au8Mac) == 128);

#define HWINFO_VERSION 0x301u

#endif /* ZQ_HW_INFO_H */
