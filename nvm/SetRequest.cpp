#include "nvm/SetRequest.h"

#include "common/Diagnostics.h"
#include "common/GlobalState.h"
#include "nvm/NvmSensitivity.h"
#include "settings/AccelLevel.h"
#include "storage/SetLock.h"

bool PerformSetRequest(long level) {
    Verbose("performing a set request[%ld]\n", level);
    // Another run's set must not interleave with this one: both write the
    // same temporary files.
    const SetLock lock;
    if (lock.GetState() == SetLock::State::kBusy) {
        Verbose("SET FAILED : ANOTHER SET STILL RUNNING AFTER %u SECONDS\n", SetLock::kWaitSeconds);
        return false;
    }
    if (lock.GetState() == SetLock::State::kFailed) {
        Verbose("SET FAILED : COULD NOT LOCK [%s]\n", lock.Directory().c_str());
        return false;
    }
    // The command line admits only levels; anything else must not index the
    // table or reach a store.
    if (!IsLevel(level) || !SetAccelValue(level > 0, thresholds[level])) {
        Verbose("SET ACCEL CONF FILE FAILED\n");
        return false;
    }
    if (!SetJOVAccelNVM(static_cast<int>(level))) {
        Verbose("SET JOV NVM FAILED\n");
        return false;
    }
    Verbose("set successful\n");
    return true;
}
