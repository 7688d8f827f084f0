#include "drives.h"

#include "profile.h"
#include "profilenames.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// File systems that hold no user's files.
constexpr std::array kPseudo{
    "proc",       "sysfs",       "cgroup",          "cgroup2",    "devpts",      "devtmpfs",
    "mqueue",     "debugfs",     "tracefs",         "securityfs", "pstore",      "bpf",
    "configfs",   "fusectl",     "hugetlbfs",       "autofs",     "binfmt_misc", "efivarfs",
    "rpc_pipefs", "nsfs",        "overlay",         "squashfs",   "ramfs",       "tmpfs",
    "selinuxfs",  "fuse.portal", "fuse.gvfsd-fuse",
};
constexpr std::array kNetwork{
    "nfs",        "nfs4",          "cifs",           "smb3",       "smbfs", "ncpfs",
    "fuse.sshfs", "fuse.smbnetfs", "fuse.curlftpfs", "9p",         "afs",   "ceph",
    "glusterfs",  "fuse.rclone",   "davfs",          "fuse.davfs2"};

bool among(const auto& list, const std::string& value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

// /proc/self/mounts writes blanks and some other bytes in octal.
std::string unescape(const std::string& field)
{
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.size() == 3 && std::all_of(digits.begin(), digits.end(),
                                                  [](char c) { return c >= '0' && c <= '7'; })) {
                out += char(std::stoi(digits, nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

bool removableDevice(const std::string& device)
{
    struct stat st
    {
    };
    if (::stat(device.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
        return false;
    // The whole disk of a partition carries the flag.
    for (const std::string& path : {"/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
                                        std::to_string(minor(st.st_rdev)) + "/removable",
                                    "/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
                                        std::to_string(minor(st.st_rdev)) + "/../removable"}) {
        std::ifstream flag(path);
        int value = 0;
        if (flag >> value)
            return value == 1;
    }
    return false;
}

} // namespace

int DriveTypeOf(const std::string& fsType, const std::string& device)
{
    if (among(kNetwork, fsType) ||
        (fsType.rfind("fuse.", 0) == 0 && device.find(':') != std::string::npos))
        return DRIVE_REMOTE;
    if (fsType == "iso9660" || fsType == "udf")
        return DRIVE_CDROM;
    if (fsType == "tmpfs" || fsType == "ramfs")
        return DRIVE_RAMDISK;
    if (removableDevice(device))
        return DRIVE_REMOVABLE;
    return DRIVE_FIXED;
}

std::vector<DriveRoot> GetLogicalDrives(const std::string& mountTable)
{
    std::string table = mountTable;
    if (table.empty()) {
        std::ifstream file("/proc/self/mounts");
        std::stringstream text;
        text << file.rdbuf();
        table = text.str();
    }
    std::vector<DriveRoot> drives;
    drives.push_back({"/", DRIVE_FIXED});
    std::istringstream lines(table);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device;
        std::string mountPoint;
        std::string fsType;
        if (!(fields >> device >> mountPoint >> fsType))
            continue;
        mountPoint = unescape(mountPoint);
        const bool network = among(kNetwork, fsType) || fsType.rfind("fuse.sshfs", 0) == 0;
        const bool real =
            network || fsType == "iso9660" || fsType == "udf" || device.rfind("/dev/", 0) == 0;
        if (mountPoint == "/") {
            drives.front().type = DriveTypeOf(fsType, device);
            continue;
        }
        if (!real || among(kPseudo, fsType) || mountPoint.rfind("/proc", 0) == 0 ||
            mountPoint.rfind("/sys", 0) == 0 || mountPoint.rfind("/dev", 0) == 0 ||
            (mountPoint.rfind("/run/", 0) == 0 && mountPoint.rfind("/run/media/", 0) != 0) ||
            mountPoint.rfind("/snap/", 0) == 0 || mountPoint.rfind("/boot/efi", 0) == 0)
            continue;
        // Files mounted over files (as containers do) are no volumes.
        struct stat st
        {
        };
        if (mountTable.empty() && (::stat(mountPoint.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)))
            continue;
        std::string root = mountPoint + "/";
        if (std::any_of(drives.begin(), drives.end(),
                        [&root](const DriveRoot& d) { return d.root == root; }))
            continue;
        drives.push_back({root, DriveTypeOf(fsType, device)});
    }
    return drives;
}

std::string DefaultDirectory(const framework::Profile& settings)
{
    return settings.getString(profile::kSettings, profile::kDefaultDirectory)
        .value_or(profile::defaultDirectoryDefault());
}
