// The JSON key store: single typed values in the class objects of a JSON
// configuration file. Each call loads the whole file and releases the
// document before it returns; a set writes the whole document back. One
// process-wide lock serialises the calls from after their argument test.
#include <limits.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "json-c/json.h"
#include "port/port.h"
#include "zq_config.h"

namespace {

namespace port = zq::port;

struct JsonStoreState {
    std::mutex lock;  // constant-initialised: ready before any constructor runs
};

JsonStoreState g_JsonStore;

struct DocumentRelease {
    void operator()(json_object *document) const { json_object_put(document); }
};
using Document = std::unique_ptr<json_object, DocumentRelease>;

bool known_type(int type) {
    return type == ZQ_JSON_TYPE_TEXT || type == ZQ_JSON_TYPE_INT || type == ZQ_JSON_TYPE_BOOL;
}

// The stored JSON type that each type code matches.
json_type stored_type_of(int type) {
    constexpr json_type kStoredTypes[] = {json_type_string, json_type_int, json_type_boolean};
    return kStoredTypes[type];
}

// The class object; null when missing, and when it is something other than
// an object, whose members could not be walked.
json_object *class_object(json_object *root, const char *className) {
    json_object *object = json_object_object_get(root, className);
    return json_object_is_type(object, json_type_object) ? object : nullptr;
}

// The members of a class object in their stored order.
lh_entry *first_member(json_object *object) {
    lh_table *members = json_object_get_object(object);
    return members ? lh_table_head(members) : nullptr;
}

bool same_name(const lh_entry *entry, const char *member) {
    return strcasecmp(static_cast<const char *>(lh_entry_k(entry)), member) == 0;
}

json_object *new_value(const void *value, int type) {
    switch (type) {
        case ZQ_JSON_TYPE_INT: {
            int number;
            std::memcpy(&number, value, sizeof number);
            return json_object_new_int(number);
        }
        case ZQ_JSON_TYPE_BOOL:
            return json_object_new_boolean(*static_cast<const u8 *>(value));
        default:
            return json_object_new_string(static_cast<const char *>(value));
    }
}

void print_saved(const char *className, const char *member, const void *value, int type) {
    if (type == ZQ_JSON_TYPE_TEXT) {
        std::printf("Save data success: class [%s] number [%s] value [%s]\n", className, member,
                    static_cast<const char *>(value));
        return;
    }
    int shown = *static_cast<const u8 *>(value);
    if (type == ZQ_JSON_TYPE_INT) std::memcpy(&shown, value, sizeof shown);
    std::printf("Save data success: class [%s] number [%s] value [%d]\n", className, member, shown);
}

// Stores the member's value into value; -1 when its type is not the one asked for.
int get_member(json_object *stored, const char *className, const char *member, void *value,
               int type) {
    json_type storedType = json_object_get_type(stored);
    bool scalar = storedType == json_type_string || storedType == json_type_int ||
                  storedType == json_type_boolean;
    if (!scalar) return 0;
    if (storedType != stored_type_of(type)) {
        std::printf("Parameter type does not match!\n");
        return -1;
    }
    if (type == ZQ_JSON_TYPE_TEXT) {
        const char *text = json_object_get_string(stored);
        std::strcpy(static_cast<char *>(value), text);
        std::printf("Get data success: class [%s] number [%s] value [%s]\n", className, member,
                    text);
        return 0;
    }
    int number = json_object_get_int(stored);  // a boolean reads 1 or 0
    if (type == ZQ_JSON_TYPE_INT)
        std::memcpy(value, &number, sizeof number);
    else
        *static_cast<u8 *>(value) = static_cast<u8>(number);
    std::printf("Get data success: class [%s] number [%s] value [%d]\n", className, member, number);
    return 0;
}

// The file's document, or a new one holding an empty className when the
// file does not exist yet (the file is then made, empty); null on failure.
Document load_or_create(const char *path, const char *hostPath, const char *className) {
    if (port::access(path, F_OK) == 0) {
        Document root(json_object_from_file(hostPath));
        if (!root) std::printf("Parse josn file %s failed\n", path);
        return root;
    }
    FILE *created = port::fopen(path, "w");
    if (!created) {
        std::printf("Create json file %s failed\n", path);
        return nullptr;
    }
    port::fclose(created);
    Document root(json_object_new_object());
    if (!root) {
        std::printf("zq_json_object_new_object failed\n");
        return nullptr;
    }
    json_object_object_add(root.get(), className, json_object_new_object());
    return root;
}

// Replaces the first member that matches member ignoring case and holds a
// value of the caller's type, under its stored name, so that the file never
// holds the same member twice in different letter cases. 1 replaced, 0 not
// found, -1 a matching member holds another type.
int replace_member(json_object *object, const char *className, const char *member,
                   const void *value, int type) {
    for (lh_entry *entry = first_member(object); entry; entry = lh_entry_next(entry)) {
        if (!same_name(entry, member)) continue;
        json_type storedType = json_object_get_type(static_cast<json_object *>(lh_entry_v(entry)));
        if (storedType != json_type_string && storedType != json_type_int &&
            storedType != json_type_boolean)
            continue;  // counts as found, but only a scalar is replaced
        if (storedType != stored_type_of(type)) {
            std::printf("Parameter type does not match!\n");
            return -1;
        }
        json_object_object_add(object, static_cast<const char *>(lh_entry_k(entry)),
                               new_value(value, type));
        print_saved(className, member, value, type);
        return 1;
    }
    return 0;
}

bool has_member(json_object *object, const char *member) {
    for (lh_entry *entry = first_member(object); entry; entry = lh_entry_next(entry))
        if (same_name(entry, member)) return true;
    return false;
}

}  // namespace

extern "C" {

int json_store_get_value(const char *path, const char *className, const char *member, void *value,
                         int type) noexcept {
    if (!path || !className || !member || !value || !known_type(type)) return -1;
    std::lock_guard<std::mutex> hold(g_JsonStore.lock);
    char hostPath[PATH_MAX];
    if (port::access(path, F_OK) != 0 || port::host_path(path, hostPath, sizeof hostPath) != 0)
        return -1;
    Document root(json_object_from_file(hostPath));
    if (!root) {
        std::printf("Get ROOT object Failed!\n");
        return -1;
    }
    json_object *object = class_object(root.get(), className);
    if (!object) {
        std::printf("Get %s object error!\n", className);
        return -1;
    }
    for (lh_entry *entry = first_member(object); entry; entry = lh_entry_next(entry)) {
        if (same_name(entry, member))
            return get_member(static_cast<json_object *>(lh_entry_v(entry)), className, member,
                              value, type);
    }
    return 0;
}

int json_store_set_value(const char *path, const char *className, const char *member,
                         const void *value, int type) noexcept {
    if (!path || !className || !member || !value || !known_type(type)) return -1;
    std::lock_guard<std::mutex> hold(g_JsonStore.lock);
    char hostPath[PATH_MAX];
    if (port::host_path(path, hostPath, sizeof hostPath) != 0) return -1;
    Document root = load_or_create(path, hostPath, className);
    if (!root) return -1;
    json_object *object = class_object(root.get(), className);
    if (!object) {
        std::printf("Get %s object error!", className);
        return -1;
    }
    int replaced = replace_member(object, className, member, value, type);
    if (replaced < 0) return -1;
    if (replaced == 0 && !has_member(object, member))
        json_object_object_add(object, member, new_value(value, type));
    // Saved whole through a temporary file, so that a failed or interrupted
    // save leaves the old file rather than a truncated one.
    const char *text = json_object_to_json_string_ext(root.get(), JSON_C_TO_STRING_PLAIN);
    if (!text || port::replace_file(path, text, std::strlen(text)) != 0) {
        std::printf("Save to Json file Failed!\n");
        return -1;
    }
    return 0;
}

}  // extern "C"
