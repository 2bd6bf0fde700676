#pragma once

// Where the programs the scenarios start live: the built program, the
// simulated site and the store tool come from the build (CMake passes their
// paths), the X tools from the system (found when the build was configured),
// and the notice drawer from this folder.

inline constexpr const char* kProgramPath = DIALSCOPE_PROGRAM_PATH;
inline constexpr const char* kSiteSimPath = DIALSCOPE_SITESIM_PATH;
inline constexpr const char* kDsregPath = DIALSCOPE_DSREG_PATH;
inline constexpr const char* kXvfbPath = DIALSCOPE_XVFB_PATH;
inline constexpr const char* kXdotoolPath = DIALSCOPE_XDOTOOL_PATH;
inline constexpr const char* kXpropPath = DIALSCOPE_XPROP_PATH;
inline constexpr const char* kImportPath = DIALSCOPE_IMPORT_PATH;
inline constexpr const char* kFfprobePath = DIALSCOPE_FFPROBE_PATH;
inline constexpr const char* kXmessagePath = DIALSCOPE_XMESSAGE_PATH;
inline constexpr const char* kNoticePath = DIALSCOPE_NOTICE_PATH;
