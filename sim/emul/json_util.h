// Small typed readers over json-c for board.json; a missing or wrongly typed
// member yields the fallback.
#pragma once

#include <json-c/json.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "port/port.h"

namespace zq::sim {

inline json_object *json_get(json_object *obj, const char *key) {
    json_object *value = nullptr;
    if (!obj || !json_object_is_type(obj, json_type_object)) return nullptr;
    return json_object_object_get_ex(obj, key, &value) ? value : nullptr;
}

// Element i of a JSON array; null when array is not one or is shorter.
inline json_object *json_at(json_object *array, size_t i) {
    return json_object_is_type(array, json_type_array) && i < json_object_array_length(array)
               ? json_object_array_get_idx(array, i)
               : nullptr;
}

inline double json_double(json_object *obj, const char *key, double fallback) {
    json_object *v = json_get(obj, key);
    if (json_object_is_type(v, json_type_double) || json_object_is_type(v, json_type_int))
        return json_object_get_double(v);
    return fallback;
}

inline int64_t json_int64(json_object *obj, const char *key, int64_t fallback) {
    json_object *v = json_get(obj, key);
    return json_object_is_type(v, json_type_int) ? json_object_get_int64(v) : fallback;
}

inline std::string json_string(json_object *obj, const char *key, const char *fallback) {
    json_object *v = json_get(obj, key);
    return json_object_is_type(v, json_type_string) ? json_object_get_string(v) : fallback;
}

// A number given as a JSON integer or as a text such as "0x800C4C00".
inline uint64_t json_number(json_object *obj, const char *key, uint64_t fallback) {
    json_object *v = json_get(obj, key);
    if (json_object_is_type(v, json_type_int))
        return static_cast<uint64_t>(json_object_get_int64(v));
    if (json_object_is_type(v, json_type_string))
        return std::strtoull(json_object_get_string(v), nullptr, 0);
    return fallback;
}

inline std::vector<std::string> json_strings(json_object *array) {
    std::vector<std::string> out;
    if (!json_object_is_type(array, json_type_array)) return out;
    for (size_t i = 0; i < json_object_array_length(array); ++i) {
        json_object *v = json_object_array_get_idx(array, i);
        if (json_object_is_type(v, json_type_string)) out.emplace_back(json_object_get_string(v));
    }
    return out;
}

// The member of obj named key, made (an empty object or array) when it is
// missing or of another type.
inline json_object *json_member(json_object *obj, const char *key, json_type type) {
    json_object *v = json_get(obj, key);
    if (json_object_is_type(v, type)) return v;
    v = type == json_type_array ? json_object_new_array() : json_object_new_object();
    json_object_object_add(obj, key, v);
    return v;
}

// Rebuilds the array member key of parent (made when missing) with each
// entry replaced by what rewrite returns for it: an entry the array may own
// (a new object, or json_object_get of the old one), or null to drop it.
template <typename Rewrite>
void rewrite_array(json_object *parent, const char *key, Rewrite rewrite) {
    json_object *old = json_member(parent, key, json_type_array);
    json_object *array = json_object_new_array();
    for (size_t k = 0; k < json_object_array_length(old); ++k)
        if (json_object *entry = rewrite(json_object_array_get_idx(old, k)))
            json_object_array_add(array, entry);
    json_object_object_add(parent, key, array);
}

// The parsed document (release with json_object_put), or null with a reason.
inline json_object *json_load_file(const std::string &path, std::string *error) {
    json_object *root = json_object_from_file(path.c_str());
    if (!root || !json_object_is_type(root, json_type_object)) {
        if (error) *error = path + ": missing or not a JSON object";
        json_object_put(root);
        return nullptr;
    }
    return root;
}

// Saves through a temporary file renamed over path: a failed or interrupted
// save keeps the old file.
inline bool json_save_file(const std::string &path, json_object *root) {
    const char *text =
        json_object_to_json_string_ext(root, JSON_C_TO_STRING_PRETTY | JSON_C_TO_STRING_SPACED);
    return text && port::write_whole_file(path.c_str(), text, std::strlen(text), 0644) == 0;
}

}  // namespace zq::sim
