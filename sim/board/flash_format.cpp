#include "board/flash_format.h"

#include <algorithm>
#include <cstring>

namespace zq::sim {
namespace {

uint32_t le32_at(const std::vector<uint8_t> &b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
           uint32_t{b[at + 3]} << 24;
}

void put_le32_at(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

uint32_t reference_crc32(const uint8_t *data, size_t length) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

EnvPlace env_place(uint32_t mtd0Size) {
    switch (mtd0Size) {
        case 0x40000:
            return {0x30000, 0x10000, 0x10000};
        case 0x30000:  // the last 2 KiB are the identity record's
            return {0x20000, 0x10000, 0xF800};
        case 0x20000:
            return {0x10000, 0x10000, 0x10000};
        default:
            return {0x40000, 0x40000, 0x40000};
    }
}

EnvImage parse_env(const std::vector<uint8_t> &mtd0, uint32_t mtd0Size) {
    const EnvPlace place = env_place(mtd0Size);
    EnvImage env;
    if (mtd0.size() < uint64_t{place.offset} + place.size) return env;
    env.whole = true;
    std::vector<uint8_t> image(mtd0.begin() + place.offset,
                               mtd0.begin() + place.offset + place.size);
    env.storedCrc = le32_at(image, 0);
    env.computedCrc = reference_crc32(image.data() + 4, image.size() - 4);
    for (size_t at = 4; at < place.listEnd && image[at] != 0;) {
        auto end = std::find(image.begin() + static_cast<long>(at), image.begin() + place.listEnd,
                             uint8_t{0});
        env.entries.emplace_back(image.begin() + static_cast<long>(at), end);
        at = static_cast<size_t>(end - image.begin()) + 1;
    }
    return env;
}

std::vector<uint8_t> make_env(const std::vector<uint8_t> &base, uint32_t listEnd,
                              const std::vector<std::string> &entries) {
    std::vector<uint8_t> image = base;
    std::fill(image.begin() + 4, image.begin() + listEnd, 0);
    size_t at = 4;
    for (const std::string &entry : entries) {
        if (at + entry.size() + 2 > listEnd) return {};
        std::memcpy(image.data() + at, entry.data(), entry.size());
        at += entry.size() + 1;
    }
    put_le32_at(image, 0, reference_crc32(image.data() + 4, image.size() - 4));
    return image;
}

Record parse_record(const std::vector<uint8_t> &bytes) {
    Record r;
    if (bytes.size() < 16 + kRecordMaxPayload) return r;
    r.magic = le32_at(bytes, 0);
    r.storedCrc = le32_at(bytes, 4);
    r.length = le32_at(bytes, 8);
    r.version = le32_at(bytes, 12);
    if (r.length > kRecordMaxPayload) return r;
    r.computedCrc = reference_crc32(bytes.data() + 16, r.length);
    if (r.valid()) r.payload.assign(bytes.begin() + 16, bytes.begin() + 16 + r.length);
    return r;
}

std::vector<uint8_t> make_record(const std::vector<uint8_t> &payload, uint32_t version) {
    std::vector<uint8_t> record(16 + kRecordMaxPayload, 0);
    put_le32_at(record, 0, kRecordMagic);
    put_le32_at(record, 4, reference_crc32(payload.data(), payload.size()));
    put_le32_at(record, 8, static_cast<uint32_t>(payload.size()));
    put_le32_at(record, 12, version);
    std::copy(payload.begin(), payload.end(), record.begin() + 16);
    return record;
}

namespace {

std::string text_at(const std::vector<uint8_t> &b, size_t at, size_t width) {
    const char *p = reinterpret_cast<const char *>(b.data() + at);
    return std::string(p, strnlen(p, width - 1));
}

bool put_text(std::vector<uint8_t> &b, size_t at, size_t width, const std::string &text) {
    if (text.size() >= width) return false;
    std::copy(text.begin(), text.end(), b.begin() + static_cast<long>(at));
    return true;
}

}  // namespace

Identity parse_identity(const std::vector<uint8_t> &payload) {
    Identity id;
    if (payload.size() < kIdentitySize) return id;
    id.appId = text_at(payload, 0, 32);
    id.uuid = text_at(payload, 32, 32);
    id.key = text_at(payload, 64, 64);
    std::copy(payload.begin() + 128, payload.begin() + 134, id.mac);
    return id;
}

std::vector<uint8_t> make_identity(const Identity &id) {
    std::vector<uint8_t> payload(kIdentitySize, 0);
    if (!put_text(payload, 0, 32, id.appId) || !put_text(payload, 32, 32, id.uuid) ||
        !put_text(payload, 64, 64, id.key))
        return {};
    std::copy(id.mac, id.mac + 6, payload.begin() + 128);
    return payload;
}

bool set_env(std::vector<uint8_t> &mtd0, uint32_t mtd0Size, const std::string &name,
             const std::string &value) {
    const EnvPlace place = env_place(mtd0Size);
    EnvImage env = parse_env(mtd0, mtd0Size);
    if (!env.whole) return false;
    std::vector<std::string> entries = env.valid() ? env.entries : std::vector<std::string>{};
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->compare(0, name.size() + 1, name + "=") == 0) {
            entries.erase(it);
            break;
        }
    }
    entries.push_back(name + "=" + value);
    const auto from = mtd0.begin() + place.offset;
    std::vector<uint8_t> image =
        make_env(std::vector<uint8_t>(from, from + place.size), place.listEnd, entries);
    if (image.empty()) return false;
    std::copy(image.begin(), image.end(), from);
    return true;
}

bool set_record(std::vector<uint8_t> &mtd0, uint32_t mtd0Size, const std::vector<uint8_t> &payload,
                uint32_t version) {
    if (payload.empty() || payload.size() > kRecordMaxPayload ||
        mtd0.size() < kRecordFlashOffset + 16 + kRecordMaxPayload)
        return false;
    const EnvPlace place = env_place(mtd0Size);
    const bool shared = place.listEnd < place.size;
    const bool keepEnv = shared && parse_env(mtd0, mtd0Size).valid();
    std::vector<uint8_t> record = make_record(payload, version);
    std::copy(record.begin(), record.end(), mtd0.begin() + kRecordFlashOffset);
    if (keepEnv)
        put_le32_at(mtd0, place.offset,
                    reference_crc32(mtd0.data() + place.offset + 4, place.size - 4));
    return true;
}

}  // namespace zq::sim
