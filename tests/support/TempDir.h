#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the test.
class TempDir
{
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelvox-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string path(const std::string& name = {}) const { return (m_path / name).string(); }

    // Writes bytes to name (its folders made as needed); its path.
    std::string write(const std::string& name, std::string_view bytes) const
    {
        const std::string p = path(name);
        std::filesystem::create_directories(std::filesystem::path(p).parent_path());
        std::ofstream out(p, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return p;
    }
    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) const
    {
        return write(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }

    // A sparse file of size bytes under name, a hole but for bytes written at
    // each offset of at; its path.
    std::string sparse(const std::string& name, std::int64_t size, const std::vector<std::uint8_t>& bytes,
                       const std::vector<std::int64_t>& at) const
    {
        const std::string p = path(name);
        std::filesystem::create_directories(std::filesystem::path(p).parent_path());
        std::fstream out(p, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
        for (const std::int64_t offset : at) {
            out.seekp(offset);
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        out.close();
        std::filesystem::resize_file(p, static_cast<std::uintmax_t>(size));
        if (!out || std::filesystem::file_size(p) != static_cast<std::uintmax_t>(size))
            throw std::runtime_error("cannot write the sparse file " + p);
        return p;
    }

private:
    std::filesystem::path m_path;
};
