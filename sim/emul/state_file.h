// A board file open and exclusively locked (flock) while this object lives,
// so that a driver's read, change and write of its state is whole for every
// process on the board. A driver's state is kept in such a file as a JSON
// object.
#pragma once

#include <fcntl.h>
#include <json-c/json.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

#include "emul/json_util.h"

namespace zq::sim {

class LockedFile {
  public:
    // Opens hostPath with flags (O_RDONLY for a reader; with O_CREAT a missing
    // file is made) and waits for the lock.
    LockedFile(const std::string &hostPath, int flags);
    ~LockedFile();
    LockedFile(const LockedFile &) = delete;
    LockedFile &operator=(const LockedFile &) = delete;

    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // The state parse(root, args...) makes of the stored object; root is
    // null for a missing, empty or cut-short file, which reads as power-on.
    template <typename Parse, typename... Args>
    auto load(Parse parse, const Args &...args) const {
        json_object *root = load_json();
        auto state = parse(root, args...);
        json_object_put(root);
        return state;
    }
    // Replaces the contents with root (released here). The modification
    // stamp moves on even within one tick of a coarse clock, as readers
    // cache by it. False when the file cannot be written.
    bool store(json_object *root) const;

  private:
    json_object *load_json() const;
    int fd_;
};

// An integer member of a state record S, kept under key.
template <typename S>
struct StateField {
    const char *key;
    int64_t (*get)(const S &);
    void (*set)(S &, int64_t);
};

#define ZQ_STATE_FIELD(S, key, member)                                              \
    zq::sim::StateField<S> {                                                        \
        key, [](const S &s) { return static_cast<int64_t>(s.member); },             \
            [](S &s, int64_t v) { s.member = static_cast<decltype(S::member)>(v); } \
    }

// The fields of record as a new JSON object.
template <typename S, size_t N>
json_object *fields_json(const S &record, const StateField<S> (&fields)[N]) {
    json_object *obj = json_object_new_object();
    for (const StateField<S> &f : fields)
        json_object_object_add(obj, f.key, json_object_new_int64(f.get(record)));
    return obj;
}

// Reads the fields obj holds into *record; the others keep their values.
template <typename S, size_t N>
void read_fields(json_object *obj, S *record, const StateField<S> (&fields)[N]) {
    for (const StateField<S> &f : fields) f.set(*record, json_int64(obj, f.key, f.get(*record)));
}

// A record of 32-bit words (a request record as a driver took it, a
// palette) as a JSON array of its words.
template <typename Record>
json_object *words_json(const Record &record) {
    static_assert(sizeof record % 4 == 0, "a record of whole words");
    uint32_t words[sizeof record / 4];
    std::memcpy(words, &record, sizeof words);
    json_object *array = json_object_new_array();
    for (uint32_t w : words) json_object_array_add(array, json_object_new_int64(w));
    return array;
}

// Reads such an array into *record; false, and the record untouched, when
// array is not one of as many words.
template <typename Record>
bool read_words(json_object *array, Record *record) {
    uint32_t words[sizeof *record / 4];
    if (!json_object_is_type(array, json_type_array) ||
        json_object_array_length(array) != std::size(words))
        return false;
    for (size_t i = 0; i < std::size(words); ++i)
        words[i] = static_cast<uint32_t>(json_object_get_int64(json_at(array, i)));
    std::memcpy(record, words, sizeof words);
    return true;
}

}  // namespace zq::sim
