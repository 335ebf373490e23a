#include "app/AccelCmd.h"

#include <libxml/catalog.h>
#include <libxml/parser.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "app/Usage.h"
#include "common/Conversion.h"
#include "common/Diagnostics.h"
#include "common/GlobalState.h"
#include "common/PanelPaths.h"
#include "nvm/SetRequest.h"
#include "panel/LevelThresholds.h"
#include "settings/AccelLevel.h"

namespace {

// A switch reports itself only when an earlier "--v" turned verbose on.
void NoteSwitch(const char* argument) {
    if (std::strcmp(argument, "--set") == 0) {
        Verbose("found a --set arguement\n");
        bCmdSet = true;
    } else if (std::strcmp(argument, "--get") == 0) {
        Verbose("found a --get arguement\n");
        bCmdGet = true;
    } else if (std::strcmp(argument, "--v") == 0) {
        Verbose("found a --v arguement\n");
        bVerbose = true;
    }
}

// The level in any base strtol knows (3, 0x3, 03). A zero must be the whole
// argument; any other number may be followed by anything. An argument
// without a digit, the empty one included, is refused so that an unset shell
// variable cannot switch the accelerometer off.
bool AcceptSetLevel(const char* argument) {
    char* end = nullptr;
    const long level = std::strtol(argument, &end, 0);
    if (end == argument || ZeroWithTrailingText(level, end) || !IsLevel(level)) {
        return false;
    }
    gParameterValue = level;
    Verbose("found a valid --set parameter [%ld]\n", level);
    return true;
}

bool DecideRequest(int argc, char** argv) {
    if (bCmdSet && !bCmdGet) {
        return AcceptSetLevel(argv[argc - 1]);
    }
    if (bCmdGet && !bCmdSet) {
        // "--get", optionally with one "--v", in either order.
        return argc == (bVerbose ? 3 : 2);
    }
    return false;
}

// The thresholds, then the request. One that runs out of memory fails like
// any other failure; what each step leaves on storage is whole at every point.
bool ServeRequest() {
    try {
        if (!GetJOVAccelMapping(PanelPath(kPanelConfigPath))) {
            Verbose("FAILED TO GET JOV ACCEL MAPPING\n");
            return false;
        }
        Verbose("retrieved JOV accel mapping successfully\n");
        return bCmdSet ? PerformSetRequest(gParameterValue) : bCmdGet && PerformGetRequest();
    } catch (const std::bad_alloc&) {
        Verbose("OUT OF MEMORY\n");
        return false;
    }
}

}  // namespace

bool ProcessCmdLine(int argc, char** argv) {
    bool valid = false;
    if (argc >= 2 && argc <= 4) {
        for (int index = 1; index < argc; ++index) {
            NoteSwitch(argv[index]);
        }
        valid = DecideRequest(argc, argv);
    }
    if (valid) {
        Verbose("successfully found a valid set of parameters\n");
    } else {
        Verbose("INVALID ARGUMENT OR PARAMETERS\n");
    }
    return valid;
}

int RunAccelCmd(int argc, char** argv) {
    int status = 1;
    xmlInitParser();
    // The documents have fixed paths: the system's XML catalogs (or
    // XML_CATALOG_FILES) must never put another file in place of a missing one.
    xmlCatalogSetDefaults(XML_CATA_ALLOW_NONE);
    if (!ProcessCmdLine(argc, argv)) {
        PrintUsage();
    } else {
        Verbose("parsed command line successfully\n");
        if (ServeRequest()) {
            status = 0;
        }
    }
    xmlCleanupParser();
    return status;
}
