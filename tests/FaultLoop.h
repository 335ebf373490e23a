#pragma once

#include <string>

#include "CaseTables.h"

// Runs the loop of line (such as "faults --set 3") over the panel that the
// case's lines before at lay: see "Fault loops" in tests/cases/README.md.
void RunLoop(const Case& c, size_t at, const std::string& line);

// Runs "room ARGS / ARGS..." over the panel that the case's lines before at
// lay: see tests/RoomSweep.cpp.
void RunRoomSweep(const Case& c, size_t at, const Words& args);
