#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

// A scratch folder that the tests fill with fixture files (a fake /proc or /sys) and that goes away
// with the test.
class TempTree
{
public:
    TempTree()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vantor-agent-test-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        m_root = pattern;
    }
    ~TempTree()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }
    TempTree(const TempTree &) = delete;
    TempTree &operator=(const TempTree &) = delete;

    const std::filesystem::path &root() const { return m_root; }

    std::filesystem::path write(const std::string &relative, const std::string &text) const
    {
        const auto path = m_root / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        return path;
    }

    void link(const std::string &target, const std::string &relative) const
    {
        const auto path = m_root / relative;
        std::filesystem::create_directories(path.parent_path());
        std::filesystem::create_symlink(target, path);
    }

private:
    std::filesystem::path m_root;
};
