// The provisioning tool's steps, for the tool's main and its tests.
#pragma once

#include <cstddef>
#include <cstdio>

// The whole run: -1 on every failure, 0 after the already-provisioned
// branch; the provisioning branch idles for ever and never returns.
int provision_main(int argc, char **argv);

// zqauto from the boot environment: 1 when it cannot be read or is empty,
// else its leading decimal number (0 for text).
int read_auto_start_flag();

// Drives the amplifier GPIO named in "/usr/bin/device.json" high; the key
// store's result.
int enable_speaker_amplifier();

struct HwInfo;
// Reads the key lines of a provisioning file into the payload; the number of
// accepted key lines. keysSeen, when given, gets a bit for each key accepted
// at least once: 1 APP_ID, 2 UUID, 4 KEY.
int read_key_lines(FILE *file, HwInfo &info, unsigned *keysSeen = nullptr);

// Clears bytes from the end of buffer down to the last ASCII letter or digit.
void trim_trailing_non_alnum(char *buffer, size_t size);
