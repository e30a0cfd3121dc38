// Provisioning files of any bytes: the key-line reader must stay inside its
// buffers and leave every payload text terminated.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hw_info.h"
#include "provision.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FILE *file = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (!file) return 0;
    HwInfo info;
    std::memset(&info, 0, sizeof info);
    int accepted = read_key_lines(file, info);
    std::fclose(file);
    if (accepted < 0 || info.szAppId[31] != 0 || info.szUuid[31] != 0 || info.szKey[63] != 0)
        std::abort();
    return 0;
}
