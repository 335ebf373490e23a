#pragma once

// The fixed locations of the three documents on the panel.
inline constexpr char kPanelConfigPath[] = "/uish/panel_config.xml";
inline constexpr char kAccelConfPath[] = "/usr/ui/uish/etc/accel.conf";
inline constexpr char kNvmDirectory[] = "/usr/ui/qel/nvm/defaults/Default";

// Where a fixed location is found at run time. The shipped program returns it
// unchanged; the test variant puts it below its sandbox root.
const char* PanelPath(const char* fixedPath);
