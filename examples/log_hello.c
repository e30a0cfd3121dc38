/* Writes one line through each of the SDK's log facilities.
 * On a virtual board: ZQ_VBOARD=board ./log_hello, then look at board/dev/log. */
#include <stdio.h>

#include "zq_log.h"

int main(void) {
    if (mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_SYS, "hello from the media side\n") != 0)
        fprintf(stderr, "/dev/log cannot be opened\n");
    ZQSDK_LOG(ZQ_LOG_INFO, "zq_system", "hello from the SDK at %s\n", "INFO");
    ZQSDK_LOG(ZQ_LOG_ERROR, "zq_system", "an ERROR line goes to standard error\n");
    ZQSDK_SetLogLevel(5);
    ZQSDK_LOG(ZQ_LOG_DEBUG, "zq_system", "DEBUG lines show from level 5 on\n");
    return 0;
}
