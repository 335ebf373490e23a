#include "settings/GetRequest.h"

#include <cstdio>

#include "common/Diagnostics.h"
#include "settings/AccelLevel.h"

bool PerformGetRequest() {
    Verbose("performing a get request\n");
    long level = -1;
    // The level is the answer: a get that could not deliver it (standard
    // output closed, or a full disk behind a redirection) failed too.
    if (!GetAccelValue(level) || std::printf("%ld\n", level) < 0 || std::fflush(stdout) != 0) {
        Verbose("GET FAILED\n");
        return false;
    }
    Verbose("get successful[%ld]\n", level);
    return true;
}
