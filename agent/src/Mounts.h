// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::agent {

// One line of /proc/<pid>/mountinfo.
struct MountEntry {
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;       // the folder of the file system mounted here ("/" unless a bind mount)
    std::string mountPoint; // with the kernel's octal escapes undone
    std::string type;
    std::string source; // e.g. /dev/sda2, rpool/home

    bool operator==(const MountEntry &) const = default;
};

std::vector<MountEntry> parseMountInfo(std::string_view text);

// Disk-backed file systems that keep data across a reboot; tmpfs, overlay, squashfs, network and
// pseudo file systems are not.
bool isLocalPersistent(std::string_view type);

// The local persistent file systems mounted at or below `under`, each once: a bind mount or a second
// btrfs subvolume shows the same space again, so an entry whose device numbers or source device were
// seen already is passed over. Whole mounts come before bind mounts of a folder, so the name kept is
// the one df shows.
std::vector<MountEntry> localFileSystems(const std::vector<MountEntry> &mounts, const std::string &under);

// statvfs and the device of the folder that a path names.
struct FsStat {
    unsigned major = 0;
    unsigned minor = 0;
    std::uint64_t blocks = 0, freeBlocks = 0, availableBlocks = 0, fragmentSize = 0;
    std::uint64_t files = 0, freeFiles = 0;
};

using FileSystemProbe = std::function<std::optional<FsStat>(const std::string &path)>;

std::optional<FsStat> statFileSystem(const std::string &path);

struct FileSystemUse {
    std::string mountPoint; // as seen from the watched root: "/var", not "/host/var"
    std::string source;
    std::string type;
    bool isRoot = false; // the root file system, whose usage the reading's diskUsage reports
    double sizeBytes = 0;
    double availableBytes = 0;
    double usagePercent = 0;             // counted as df does
    std::optional<double> inodesPercent; // absent where the file system has no fixed inode table
};

// Measures each file system. One that another mount hides (its mount point now shows another device,
// as the unit's ProtectHome= does to /home) cannot be measured and is left out, rather than reported
// with the figures of what covers it.
std::vector<FileSystemUse> measureFileSystems(const std::vector<MountEntry> &fileSystems,
                                              const std::string &under,
                                              std::optional<std::pair<unsigned, unsigned>> rootDevice,
                                              const FileSystemProbe &probe);

} // namespace vantor::agent
