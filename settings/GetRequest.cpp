#include "settings/GetRequest.h"

#include <cstdio>

#include "common/Diagnostics.h"
#include "settings/AccelLevel.h"

bool PerformGetRequest() {
    Verbose("performing a get request\n");
    long level = -1;
    if (!GetAccelValue(level)) {
        Verbose("GET FAILED\n");
        return false;
    }
    Verbose("get successful[%ld]\n", level);
    std::printf("%ld\n", level);
    return true;
}
