// SPDX-License-Identifier: MIT
#include "Mounts.h"

#include "ProcParse.h"
#include "Text.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <set>
#include <utility>

namespace vantor::agent {

namespace {

// The kernel writes a blank, tab, line feed and backslash in a path as \040, \011, \012 and \134.
std::string unescape(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto digit = [&](std::size_t at) {
            return at < text.size() && text[at] >= '0' && text[at] <= '7';
        };
        if (text[i] == '\\' && digit(i + 1) && digit(i + 2) && digit(i + 3)) {
            out +=
                static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0'));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string withoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The mount point as seen from `under`, or nothing when it lies outside.
std::optional<std::string> below(const std::string &mountPoint, const std::string &under)
{
    const std::string base = withoutTrailingSlash(under);
    if (base == "/") return mountPoint;
    if (mountPoint == base) return std::string("/");
    if (mountPoint.size() > base.size() && mountPoint.starts_with(base) && mountPoint[base.size()] == '/')
        return mountPoint.substr(base.size());
    return std::nullopt;
}

} // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text)
{
    std::vector<MountEntry> mounts;
    for (const auto line : splitLines(text)) {
        const auto words = splitWords(line);
        // id, parent, major:minor, root, mount point, options, optional fields..., "-", type, source, options
        const auto dash = std::find(words.begin(), words.end(), std::string_view("-"));
        if (words.size() < 7 || dash - words.begin() < 6 || words.end() - dash < 3) continue;
        const auto colon = words[2].find(':');
        if (colon == std::string_view::npos) continue;
        const auto major = parseUnsigned(words[2].substr(0, colon));
        const auto minor = parseUnsigned(words[2].substr(colon + 1));
        if (!major || !minor || *major > 0xFFFFFFFFu || *minor > 0xFFFFFFFFu) continue;
        mounts.push_back({static_cast<unsigned>(*major), static_cast<unsigned>(*minor), unescape(words[3]),
                          unescape(words[4]), std::string(dash[1]), unescape(dash[2])});
    }
    return mounts;
}

bool isLocalPersistent(std::string_view type)
{
    static const std::set<std::string_view> types{"ext2",   "ext3", "ext4",  "xfs",      "btrfs",
                                                  "f2fs",   "zfs",  "jfs",   "reiserfs", "bcachefs",
                                                  "nilfs2", "vfat", "exfat", "ntfs3",    "hfsplus"};
    return types.contains(type);
}

std::vector<MountEntry> localFileSystems(const std::vector<MountEntry> &mounts, const std::string &under)
{
    std::vector<MountEntry> kept;
    std::set<std::pair<unsigned, unsigned>> devices;
    std::set<std::string> sources;
    for (const bool wholeMounts : {true, false})
        for (const auto &m : mounts) {
            if ((m.root == "/") != wholeMounts || !isLocalPersistent(m.type) || !below(m.mountPoint, under))
                continue;
            // Sources that are not device paths (a zfs dataset) name one file system each only by number.
            const bool devicePath = m.source.starts_with("/dev/");
            if (devices.contains({m.major, m.minor}) || (devicePath && sources.contains(m.source))) continue;
            devices.emplace(m.major, m.minor);
            if (devicePath) sources.insert(m.source);
            kept.push_back(m);
        }
    return kept;
}

std::optional<FsStat> statFileSystem(const std::string &path)
{
    struct stat place {
    };
    struct statvfs fs {
    };
    if (stat(path.c_str(), &place) != 0 || statvfs(path.c_str(), &fs) != 0) return std::nullopt;
    return FsStat{major(place.st_dev), minor(place.st_dev), fs.f_blocks, fs.f_bfree,
                  fs.f_bavail,         fs.f_frsize,         fs.f_files,  fs.f_ffree};
}

std::vector<FileSystemUse> measureFileSystems(const std::vector<MountEntry> &fileSystems,
                                              const std::string &under,
                                              std::optional<std::pair<unsigned, unsigned>> rootDevice,
                                              const FileSystemProbe &probe)
{
    std::vector<FileSystemUse> measured;
    if (!probe) return measured;
    for (const auto &m : fileSystems) {
        const auto s = probe(m.mountPoint);
        if (!s || s->major != m.major || s->minor != m.minor) continue;
        const auto disk = diskFigures(s->blocks, s->freeBlocks, s->availableBlocks, s->fragmentSize);
        FileSystemUse use{below(m.mountPoint, under).value_or(m.mountPoint),
                          m.source,
                          m.type,
                          rootDevice == std::pair{m.major, m.minor},
                          disk.totalBytes,
                          disk.freeBytes,
                          disk.usagePercent,
                          std::nullopt};
        // btrfs and vfat report no inode count: they cannot run out of inodes.
        if (s->files > 0 && s->files >= s->freeFiles)
            use.inodesPercent =
                static_cast<double>(s->files - s->freeFiles) / static_cast<double>(s->files) * 100;
        measured.push_back(std::move(use));
    }
    return measured;
}

} // namespace vantor::agent
