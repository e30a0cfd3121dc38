// The audio decoder channel: G.711 or raw PCM streams from the application,
// decoded into the channel's buffer and written into the playback ring,
// which the engine thread plays. Only channel 0 exists; its state lives in
// the engine state (g_AudioEngine).
#include <algorithm>
#include <cstring>
#include <new>

#include "audio/engine.h"
#include "port/port.h"
#include "zq_adec.h"
#include "zq_g711.h"
#include "zq_log.h"

namespace port = zq::port;

namespace {

constexpr s32 kErrBadChannel = ZQ_ERR_CODE(ZQ_MOD_ADEC, ZQ_ERR_BAD_CHANNEL);
constexpr s32 kErrNotCreated = ZQ_ERR_CODE(ZQ_MOD_ADEC, ZQ_ERR_NOT_ENABLED);
constexpr s32 kErrNullPtr = ZQ_ERR_CODE(ZQ_MOD_ADEC, ZQ_ERR_NULL_PTR);
constexpr s32 kErrNoMemory = ZQ_ERR_CODE(ZQ_MOD_ADEC, ZQ_ERR_NO_MEMORY);

constexpr u32 kDecBufSamples = kDecBufBytes / 2;

u32 decode_alaw(const u8 *src, u32 n, s16 *out) {
    u32 bytes = 0;
    g711a_decode(src, out, n, &bytes);
    return bytes;
}

u32 decode_ulaw(const u8 *src, u32 n, s16 *out) {
    u32 bytes = 0;
    g711u_decode(src, out, n, &bytes);
    return bytes;
}

u32 copy_pcm(const u8 *src, u32 n, s16 *out) {
    std::memcpy(out, src, n);
    return n;
}

// What a payload type becomes, and how many stream bytes fill the decode
// buffer once. Longer streams are decoded and written piece by piece.
struct StreamDecoder {
    s32 enType;
    u32 maxPiece;
    u32 (*decode)(const u8 *src, u32 n, s16 *out);  // returns the decoded byte count
};

constexpr StreamDecoder kDecoders[] = {
    {ADEC_TYPE_G711A, kDecBufSamples, decode_alaw},
    {ADEC_TYPE_G711U, kDecBufSamples, decode_ulaw},
    {ADEC_TYPE_PCM, kDecBufBytes, copy_pcm},
};

const StreamDecoder *find_decoder(s32 enType) {
    for (const StreamDecoder &d : kDecoders)
        if (d.enType == enType) return &d;
    return nullptr;  // accepted, decodes to nothing
}

// The buffer is made as samples, so that the decoders write 16-bit values
// into 16-bit objects; the ring and the callback see its bytes.
s16 *dec_samples() {
    return reinterpret_cast<s16 *>(g_AudioEngine.pu8DecBuf);
}

void release_dec_buf() {
    delete[] dec_samples();
    g_AudioEngine.pu8DecBuf = nullptr;
}

// Streams go in only while the channel is created and holds its buffer, the
// output is enabled and the engine has its playback ring.
bool channel_accepts_streams() {
    return (g_AudioEngine.u32ChnMask.load() & 1u) && g_AudioEngine.pu8DecBuf &&
           g_AudioEngine.pstPlayRing && audio_get_ao_fd(0) >= 0;
}

// Waits in 10 ms steps for room; false once the output is disabled, since
// the ring would then never drain.
bool wait_for_room(AudioRing *ring, u32 needed) {
    while (audio_ring_room(ring) < needed) {
        if (audio_get_ao_fd(0) < 0) return false;
        port::sleep_us(kBlockingPollUs);
    }
    return true;
}

s32 refuse_not_created(AdChn s32AdChn) {
    mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_ADEC, "AdChn %d not created\n", s32AdChn);
    return kErrNotCreated;
}

// The decoder callback runs inside a send, which holds the channel: a call
// of the channel's own from the callback would wait for itself for ever.
thread_local bool t_inDecCallback = false;

bool called_from_callback(AdChn s32AdChn) {
    if (!t_inDecCallback) return false;
    mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_ADEC, "AdChn %d busy, called from its callback\n", s32AdChn);
    return true;
}

}  // namespace

extern "C" {

s32 ZQ_MPI_ADEC_CreateChn(AdChn s32AdChn, const AdecChnAttr *pstAttr) noexcept {
    if (s32AdChn != 0) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_ADEC, "AdChn %d not support!\n", s32AdChn);
        return kErrBadChannel;
    }
    if (!pstAttr) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_ADEC, "pstAttr is null!\n");
        return kErrNullPtr;
    }
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_ADEC,
            "[%s]: AdChn[%d], enType[%d], u32BufSize[%u], enMode[%d]\n", "ZQ_MPI_ADEC_CreateChn",
            s32AdChn, pstAttr->enType, pstAttr->u32BufSize, pstAttr->enMode);
    if (called_from_callback(s32AdChn)) return kErrNotCreated;
    s16 *fresh = new (std::nothrow) s16[kDecBufSamples]();
    if (!fresh) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_ADEC, "AdChn %d decode buffer not allocated\n", s32AdChn);
        return kErrNoMemory;
    }
    std::lock_guard<std::mutex> channel(g_AudioEngine.decLock);
    release_dec_buf();  // a channel created again does not leak its old buffer
    g_AudioEngine.stAdecAttr = *pstAttr;
    g_AudioEngine.pu8DecBuf = reinterpret_cast<u8 *>(fresh);
    g_AudioEngine.u32ChnMask.fetch_or(1u);
    return 0;
}

s32 ZQ_MPI_ADEC_DestroyChn(AdChn s32AdChn) noexcept {
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_ADEC, "[%s]: AdChn[%d]\n", "ZQ_MPI_ADEC_DestroyChn", s32AdChn);
    if (s32AdChn >= 0 && s32AdChn < 32) g_AudioEngine.u32ChnMask.fetch_and(~(1u << s32AdChn));
    return 0;
}

s32 ZQ_MPI_ADEC_ReleaseBuf(AdChn s32AdChn) noexcept {
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_ADEC, "[%s]: AdChn[%d]\n", "ZQ_MPI_ADEC_ReleaseBuf", s32AdChn);
    if (s32AdChn != 0) return 0;
    if (called_from_callback(s32AdChn)) return kErrNotCreated;
    std::lock_guard<std::mutex> channel(g_AudioEngine.decLock);
    release_dec_buf();
    return 0;
}

s32 ZQ_MPI_ADEC_SetCallback(AudioDataCallback pfn) noexcept {
    g_AudioEngine.pfnDecCallback.store(pfn);
    return 0;
}

s32 ZQ_MPI_ADEC_SendStream(AdChn s32AdChn, const AudioStream *pstStream, s32 bBlock) noexcept {
    if (s32AdChn != 0) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_ADEC, "AdChn %d not support\n", s32AdChn);
        return kErrBadChannel;
    }
    if (called_from_callback(s32AdChn)) return kErrNotCreated;
    // One send at a time: the ring has one producer, and the buffer stays
    // while the send decodes into it.
    std::lock_guard<std::mutex> channel(g_AudioEngine.decLock);
    if (!channel_accepts_streams()) return refuse_not_created(s32AdChn);
    if (!pstStream || !pstStream->pStream) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_ADEC, "pStream is null\n");
        return kErrNullPtr;
    }
    const StreamDecoder *decoder = find_decoder(g_AudioEngine.stAdecAttr.enType);
    AudioRing *ring = g_AudioEngine.pstPlayRing;
    s16 *out = dec_samples();
    const u8 *src = pstStream->pStream;
    u32 left = pstStream->u32Len;
    // At least one pass, so that an empty stream still reaches the callback.
    do {
        const u32 piece = decoder ? std::min(left, decoder->maxPiece) : left;
        const u32 decoded = decoder ? decoder->decode(src, piece, out) : 0;
        if (bBlock && !wait_for_room(ring, decoded)) return refuse_not_created(s32AdChn);
        audio_ring_write(ring, out, decoded);
        if (AudioDataCallback callback = g_AudioEngine.pfnDecCallback.load()) {
            t_inDecCallback = true;
            callback(g_AudioEngine.pu8DecBuf, static_cast<s32>(decoded));
            t_inDecCallback = false;
        }
        src += piece;
        left -= piece;
    } while (left > 0);
    return 0;
}

}  // extern "C"
