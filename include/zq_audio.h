/* The audio engine: one worker thread that moves 20 ms frames between the
 * audio drivers and two rings. Samples are signed 16-bit, native byte order,
 * mono, 8000 per second; a frame is 160 samples, 320 bytes.
 *
 * Threads. Every call of the audio families may be made on any thread of
 * the application:
 * - One thread is meant to feed the decoder (ZQ_MPI_ADEC_SendStream) and
 *   one to take frames (ZQ_MPI_AI_GetFrame). Calls made at the same time on
 *   several threads are served one after the other, never interleaved
 *   within a call; a blocking one holds the others until it returns.
 * - ZQ_MPI_ADEC_CreateChn and ZQ_MPI_ADEC_ReleaseBuf wait for a send in
 *   progress, so a buffer is never freed under it.
 * - Enable and Disable of a device may race each other: one descriptor is
 *   kept, and none is closed while the engine thread reads or writes it.
 * - Callbacks run on the engine thread (capture) or inside the send
 *   (decoder) and must return quickly; a decoder callback that calls the
 *   decoder family is refused (0xA0188005), since the send holds the
 *   channel.
 * - The engine thread never takes SIGINT, SIGTERM or SIGHUP: they reach the
 *   application's threads. */
#ifndef ZQ_AUDIO_H
#define ZQ_AUDIO_H

#include "zq_common.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef s32 AudioDevId; /* only device 0 exists */
typedef s32 AiChn;
typedef s32 AoChn;
typedef s32 AdChn; /* only channel 0 exists */

#define ZQ_AUDIO_SAMPLE_RATE 8000
#define ZQ_AUDIO_FRAME_SAMPLES 160
#define ZQ_AUDIO_FRAME_BYTES 320

/* Attributes of the output and input devices; recorded, not interpreted,
 * except u32SamplesPerFrame of the input (the frame length handed out). */
typedef struct AudioAttr {
    u32 enSamplerate; /* Hz */
    u32 enBitwidth;   /* sample width code */
    u32 u32Param3;
    u32 u32Param4;
    u32 u32Param5;
    u32 u32Param6;
    u32 u32SamplesPerFrame;
    u32 u32Param8;
    u32 u32Param9;
} AudioAttr;

ZQ_LAYOUT_CHECK(AudioAttr,
                sizeof(AudioAttr) == 36 && offsetof(AudioAttr, u32SamplesPerFrame) == 24);

/* Called with a frame's bytes and their count. */
typedef void (*AudioDataCallback)(u8 *pData, s32 s32Len);

/* Starts the engine thread "audio_process" (round-robin priority 99 where
 * the process may set it, else normal priority); the rings exist when it
 * returns. The first start switches the enhancement stages off and sets
 * the input's frame length to 160 samples, so ZQ_MPI_AI_SetPubAttr and
 * ZQ_MPI_AI_SetVqeAttr belong after it. Returns 0; a second call changes
 * nothing, and one whose rings or thread could not be made (logged) leaves
 * the engine unstarted for the next call to try again. The engine runs for
 * the life of the process. */
ZQ_API s32 ZQ_MPI_AUDIO_Init(void) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_AUDIO_H */
