// The voice quality enhancement chain of the microphone path: echo
// cancellation, noise suppression and gain control over one 20 ms frame.
#pragma once

#include "zq_common.h"

constexpr u32 kVqeFrameSamples = 160;  // 20 ms at 8000 Hz
// Noise suppression and gain control work on 10 ms halves: this library
// version takes 80 samples per gain-control call at 8000 Hz and refuses 160.
constexpr u32 kVqeHalfSamples = 80;

struct VqeSwitches {
    bool aec;
    bool anr;
    bool agc;
};

// The library instances and the scratch space of one chain. Made once;
// processing a frame allocates nothing.
struct VqeChain {
    void *aecm = nullptr;
    void *ns = nullptr;
    void *agc = nullptr;
    s16 scratch[kVqeFrameSamples] = {};
    float nsIn[kVqeHalfSamples] = {};
    float nsOut[kVqeHalfSamples] = {};
};

// Creates and configures the three instances; returns the number of library
// calls that failed (0: the chain is complete). A stage whose instance is
// missing passes its frame through.
int vqe_chain_create(VqeChain &chain);
void vqe_chain_free(VqeChain &chain);

// Runs the switched-on stages over one frame: nearEnd is the captured frame,
// farEnd the frame played in the same cycle (the echo reference), out gets
// the result (it must not overlap nearEnd). Returns the number of library
// calls that reported a failure; the frame is produced either way, a stage
// whose call failed passing its input on unchanged.
int vqe_process(VqeChain &chain, VqeSwitches on, const s16 *nearEnd, const s16 *farEnd, s16 *out);
