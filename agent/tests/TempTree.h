// SPDX-License-Identifier: MIT
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

// A scratch folder for fixture files (a fake /proc or /sys) that goes away with the test.
struct TempTree {
    std::filesystem::path m_root = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "vantor-agent-test-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        return std::filesystem::path(pattern);
    }();
    TempTree() = default;
    TempTree(const TempTree &) = delete;
    ~TempTree()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }
    const std::filesystem::path &root() const { return m_root; }
    std::filesystem::path write(const std::string &relative, const std::string &text) const
    {
        const auto path = m_root / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        return path;
    }
};
