// The enhancement chain over webrtc-audio-processing's C functions.
#include "audio/vqe.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/webrtc_api.h"

namespace {

constexpr u32 kSampleRate = 8000;

// Echo control: comfort noise on, echo mode 2, 30 ms in the sound card.
constexpr AecmConfig kAecmConfig{1, 2};
constexpr int16_t kAecmSoundCardMs = 30;

// Gain control: fixed digital gain towards -3 dBFS, up to 18 dB, limiter on.
constexpr int32_t kAgcMinLevel = 0;
constexpr int32_t kAgcMaxLevel = 255;
constexpr int16_t kAgcFixedDigital = 3;
constexpr WebRtcAgcConfig kAgcConfig{3, 18, 1};
constexpr int16_t kAgcMayHoldEcho = 1;

constexpr int kNsAggressive = 2;

int failed(long rc) {
    return rc != 0 ? 1 : 0;
}

void copy_samples(s16 *dst, const s16 *src, u32 count) {
    std::memcpy(dst, src, sizeof(s16) * count);
}

#if ZQ_HAVE_NSX
void *ns_create() {
    return WebRtcNsx_Create();
}
void ns_free(void *ns) {
    WebRtcNsx_Free(ns);
}
int ns_configure(void *ns) {
    return failed(WebRtcNsx_Init(ns, kSampleRate)) +
           failed(WebRtcNsx_set_policy(ns, kNsAggressive));
}
void ns_half(VqeChain &chain, const s16 *in, s16 *out) {
    WebRtcNsx_Process(chain.ns, &in, 1, &out);
}
#else
void *ns_create() {
    return WebRtcNs_Create();
}
void ns_free(void *ns) {
    WebRtcNs_Free(ns);
}
int ns_configure(void *ns) {
    return failed(WebRtcNs_Init(ns, kSampleRate)) + failed(WebRtcNs_set_policy(ns, kNsAggressive));
}
// The floating-point suppressor works on float samples of the same 10 ms.
void ns_half(VqeChain &chain, const s16 *in, s16 *out) {
    for (u32 i = 0; i < kVqeHalfSamples; ++i) chain.nsIn[i] = in[i];
    const float *inBand = chain.nsIn;
    float *outBand = chain.nsOut;
    WebRtcNs_Analyze(chain.ns, chain.nsIn);
    WebRtcNs_Process(chain.ns, &inBand, 1, &outBand);
    for (u32 i = 0; i < kVqeHalfSamples; ++i)
        out[i] = static_cast<s16>(std::clamp(std::lrint(chain.nsOut[i]), -32768L, 32767L));
}
#endif

int agc_half(VqeChain &chain, const s16 *in, s16 *out) {
    int32_t micLevel = 0;
    uint8_t saturation = 0;
    int rc = WebRtcAgc_Process(chain.agc, &in, 1, kVqeHalfSamples, &out, 0, &micLevel,
                               kAgcMayHoldEcho, &saturation);
    if (rc != 0) copy_samples(out, in, kVqeHalfSamples);
    return failed(rc);
}

}  // namespace

int vqe_chain_create(VqeChain &chain) {
    int failures = 0;
    chain.aecm = WebRtcAecm_Create();
    if (chain.aecm)
        failures += failed(WebRtcAecm_Init(chain.aecm, kSampleRate)) +
                    failed(WebRtcAecm_set_config(chain.aecm, kAecmConfig));
    else
        ++failures;
    chain.ns = ns_create();
    failures += chain.ns ? ns_configure(chain.ns) : 1;
    chain.agc = WebRtcAgc_Create();
    if (chain.agc)
        failures += failed(WebRtcAgc_Init(chain.agc, kAgcMinLevel, kAgcMaxLevel, kAgcFixedDigital,
                                          kSampleRate)) +
                    failed(WebRtcAgc_set_config(chain.agc, kAgcConfig));
    else
        ++failures;
    return failures;
}

void vqe_chain_free(VqeChain &chain) {
    if (chain.aecm) WebRtcAecm_Free(chain.aecm);
    if (chain.ns) ns_free(chain.ns);
    if (chain.agc) WebRtcAgc_Free(chain.agc);
    chain.aecm = chain.ns = chain.agc = nullptr;
}

int vqe_process(VqeChain &chain, VqeSwitches on, const s16 *nearEnd, const s16 *farEnd, s16 *out) {
    int failures = 0;
    // Each stage writes into the buffer its input is not in: out, then
    // scratch, then out again; no stage copies a frame it does not change.
    const s16 *in = nearEnd;
    s16 *next = out;
    auto advance = [&] {
        in = next;
        next = next == out ? chain.scratch : out;
    };
    if (on.aec && chain.aecm) {
        failures += failed(WebRtcAecm_BufferFarend(chain.aecm, farEnd, kVqeFrameSamples));
        int rc =
            WebRtcAecm_Process(chain.aecm, in, nullptr, next, kVqeFrameSamples, kAecmSoundCardMs);
        if (rc != 0) copy_samples(next, in, kVqeFrameSamples);
        failures += failed(rc);
        advance();
    }
    if (on.anr && chain.ns) {
        for (u32 half = 0; half < kVqeFrameSamples; half += kVqeHalfSamples)
            ns_half(chain, in + half, next + half);
        advance();
    }
    if (on.agc && chain.agc) {
        for (u32 half = 0; half < kVqeFrameSamples; half += kVqeHalfSamples)
            failures += agc_half(chain, in + half, next + half);
        advance();
    }
    if (in != out) copy_samples(out, in, kVqeFrameSamples);
    return failures;
}
