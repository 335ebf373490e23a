#include "common/GlobalState.h"

bool bCmdSet = false;
bool bCmdGet = false;
bool bVerbose = false;
long gParameterValue = -1;
float thresholds[kThresholdCount] = {0.0F, 0.0F, 0.0F, 0.0F};
