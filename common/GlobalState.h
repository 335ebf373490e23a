#pragma once

// Process-wide state of one run: written by the command line and the threshold
// loader, read by everything after them.

extern bool bCmdSet;
extern bool bCmdGet;
extern bool bVerbose;
extern long gParameterValue;

// Entry k (1..3) is the sensitivity written for level k; entries 1 and 2 are
// also the lower bounds of levels 1 and 2 when a sensitivity is read back.
constexpr int kThresholdCount = 4;
extern float thresholds[kThresholdCount];

// The levels: 0 (switched off) to 3, each with its entry of the table.
constexpr bool IsLevel(long level) {
    return level >= 0 && level < kThresholdCount;
}
