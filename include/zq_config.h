/* The JSON key store: single typed values in a JSON configuration file whose
 * root object holds one object per class, each with named scalar members.
 * Class names are matched exactly, member names without regard to letter
 * case, in stored order. A class that is not an object counts as missing.
 * Every call loads the whole file; a set writes it back whole. Calls from
 * several threads are serialised. Messages go to standard output. A type
 * code other than the three below is refused like a null argument (-1,
 * nothing read or made). */
#ifndef ZQ_CONFIG_H
#define ZQ_CONFIG_H

#include "zq_common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* What value points to, and the stored JSON type it matches. */
enum {
    ZQ_JSON_TYPE_TEXT = 0, /* NUL-terminated char text: a JSON string */
    ZQ_JSON_TYPE_INT = 1,  /* int: a JSON integer */
    ZQ_JSON_TYPE_BOOL = 2  /* one byte, 0 or 1: a JSON boolean */
};

/* Reads member of class className into value. 0 on success, also when the
 * member does not exist (value untouched) or holds another kind of value
 * (null, a number with a fraction, an object, an array); -1 on failure.
 * A text is copied whole with its terminator: value must be large enough. */
ZQ_API int json_store_get_value(const char *path, const char *className, const char *member,
                                void *value, int type) ZQ_NOEXCEPT;

/* Stores value as member of class className and saves the file. A missing
 * file is made with that one class and member; an existing file must already
 * hold the class. A member that matches in another letter case is replaced
 * under its stored name, so the file never holds it twice. The file is
 * replaced whole (a temporary file beside it, synced and renamed over it; a
 * symbolic link is followed, and the file keeps its permissions), so a
 * failed or interrupted save leaves the old file. 0 when saved; -1 on
 * failure, with an existing file left as it was. */
ZQ_API int json_store_set_value(const char *path, const char *className, const char *member,
                                const void *value, int type) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_CONFIG_H */
