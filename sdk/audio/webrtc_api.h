// The C functions of webrtc-audio-processing (0.3) that the enhancement
// chain calls. The library installs no headers for them, so they are
// declared here exactly as the library defines them.
//
// The library carries either the fixed-point noise suppressor (WebRtcNsx_*)
// or the floating-point one (WebRtcNs_*); the build finds out which and sets
// ZQ_HAVE_NSX.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// Mobile echo control.
struct AecmConfig {
    int16_t cngMode;   // 1: comfort noise on
    int16_t echoMode;  // 0..4, more suppression upwards
};
void *WebRtcAecm_Create();
void WebRtcAecm_Free(void *aecmInst);
int32_t WebRtcAecm_Init(void *aecmInst, int32_t sampFreq);
int32_t WebRtcAecm_set_config(void *aecmInst, AecmConfig config);
int32_t WebRtcAecm_BufferFarend(void *aecmInst, const int16_t *farend, size_t nrOfSamples);
int32_t WebRtcAecm_Process(void *aecmInst, const int16_t *nearendNoisy, const int16_t *nearendClean,
                           int16_t *out, size_t nrOfSamples, int16_t msInSndCardBuf);

// Automatic gain control.
struct WebRtcAgcConfig {
    int16_t targetLevelDbfs;
    int16_t compressionGaindB;
    uint8_t limiterEnable;
};
void *WebRtcAgc_Create();
void WebRtcAgc_Free(void *agcInst);
int WebRtcAgc_Init(void *agcInst, int32_t minLevel, int32_t maxLevel, int16_t agcMode, uint32_t fs);
int WebRtcAgc_set_config(void *agcInst, WebRtcAgcConfig config);
int WebRtcAgc_Process(void *agcInst, const int16_t *const *inNear, size_t num_bands, size_t samples,
                      int16_t *const *out, int32_t inMicLevel, int32_t *outMicLevel, int16_t echo,
                      uint8_t *saturationWarning);

#if ZQ_HAVE_NSX
// Fixed-point noise suppression.
void *WebRtcNsx_Create();
void WebRtcNsx_Free(void *nsxInst);
int WebRtcNsx_Init(void *nsxInst, uint32_t fs);
int WebRtcNsx_set_policy(void *nsxInst, int mode);
void WebRtcNsx_Process(void *nsxInst, const short *const *speechFrame, int num_bands,
                       short *const *outFrame);
#else
// Floating-point noise suppression.
void *WebRtcNs_Create();
void WebRtcNs_Free(void *nsInst);
int WebRtcNs_Init(void *nsInst, uint32_t fs);
int WebRtcNs_set_policy(void *nsInst, int mode);
void WebRtcNs_Analyze(void *nsInst, const float *spframe);
void WebRtcNs_Process(void *nsInst, const float *const *spframe, size_t num_bands,
                      float *const *outframe);
#endif

}  // extern "C"
