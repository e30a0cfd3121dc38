// Table rows that name an SDK call: the call's own text (for the failure
// message) and the call itself, written CALL(ZQ_MPI_VO_EnableChn(0, 1)).
#pragma once

#include <functional>

#include "zq_common.h"

#define CALL(expr) #expr, [&] { return expr; }

// A call refused before the driver: its result and the message it logs.
struct ArgumentRow {
    const char *call;
    std::function<s32()> run;
    s32 result;
    const char *message;
};

// A call whose driver request is refused: the request, its result and message.
struct RefusalRow {
    unsigned long request;
    const char *call;
    std::function<s32()> run;
    s32 result;
    const char *message;
};
