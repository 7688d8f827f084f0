// The machine's "drives": the root of the file system and the mount points
// of real volumes, with the kind of each, as the directory tree shows them.
#pragma once

#include <string>
#include <vector>

namespace framework {
class Profile;
}

// Drive types, numbered as the tree's pictures expect them.
constexpr int DRIVE_UNKNOWN = 0;
constexpr int DRIVE_NO_ROOT_DIR = 1;
constexpr int DRIVE_REMOVABLE = 2;
constexpr int DRIVE_FIXED = 3;
constexpr int DRIVE_REMOTE = 4;
constexpr int DRIVE_CDROM = 5;
constexpr int DRIVE_RAMDISK = 6;

struct DriveRoot
{
    std::string root; // ends with '/'
    int type = DRIVE_FIXED;
};

// "/" first, then the mount points of block-device, network and optical file
// systems in mount-table order, without pseudo and virtual file systems.
// `mountTable` is the text of /proc/self/mounts (read when empty).
std::vector<DriveRoot> GetLogicalDrives(const std::string& mountTable = {});

// The "Default Directory" stored in `profile`, which both panes show: the
// user's home folder when none is stored.
std::string DefaultDirectory(const framework::Profile& profile);

// The type of one mount entry: its file-system type and device.
int DriveTypeOf(const std::string& fsType, const std::string& device);
