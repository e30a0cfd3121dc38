// The node file "dev/vi" that holds the video input driver's channel state,
// open and locked for one request or one reading (inside sim/ only).
#pragma once

#include <string>

#include "emul/vi.h"

namespace zq::sim {

struct ViStateFile {
    int fd;
    explicit ViStateFile(const std::string &hostPath);
    ~ViStateFile();
    ViStateFile(const ViStateFile &) = delete;
    ViStateFile &operator=(const ViStateFile &) = delete;
    // The channels as stored; power-on values for what the file does not say.
    ViChannels load(const ViSettings &settings) const;
    bool store(const ViChannels &channels) const;
};

// The active board's settings, read again after every change of board.json.
ViSettings active_vi_settings();

}  // namespace zq::sim
