// Every section and value name the program keeps in the per-user profile, and
// the default each reader passes. Option values are 8 for on (the menu check
// flag) and 0 for off; any non-zero value counts as on.
#pragma once

#include <string>

namespace profile {

inline constexpr char kSettings[] = "Settings";
// Entries of the recent-file list, which the framework keeps in its own section.
inline constexpr int kRecentFileCount = 16;

inline constexpr int kOn = 8;
inline constexpr int kOff = 0;
constexpr bool isOn(int value)
{
    return value != 0;
}

inline constexpr char kAutoplay[] = "Autoplay";
inline constexpr int kAutoplayDefault = kOn;

inline constexpr char kLoop[] = "Loop";
inline constexpr int kLoopDefault = kOn;

inline constexpr char kPlayDirectory[] = "Play Directory";
inline constexpr int kPlayDirectoryDefault = kOff;

inline constexpr char kGmReset[] = "GM Reset";
inline constexpr int kGmResetDefault = kOn;

// Only the initial check mark of the Reverb item; never written by the program.
inline constexpr char kReverb[] = "Reverb";
inline constexpr int kReverbDefault = kOn;

// Index in the device list of the port chosen last; written, never read.
inline constexpr char kDevice[] = "Device";

// Directory listed on the right and opened in the tree; always ends with '/'.
inline constexpr char kDefaultDirectory[] = "Default Directory";
// The main frame's constructor reads it with no default: absent means "".
inline constexpr char kDefaultDirectoryNoDefault[] = "";

// Directory of the file opened last, without the final '/'.
inline constexpr char kDefaultDirectoryName[] = "Default Directory Name";

// Default of "Default Directory" for every reader but the main frame's
// constructor: the user's home directory with a final '/'.
std::string defaultDirectoryDefault();

// Default of "Default Directory Name": the home directory without the final '/'
// ("/" when the home directory is the root).
std::string defaultDirectoryNameDefault();

} // namespace profile
