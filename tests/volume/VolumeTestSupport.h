#pragma once

#include "volume/ViewImage.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// A view bitmap over plain memory, rows of exactly 3 * width bytes.
class VectorImage final : public ViewImage
{
public:
    using Rgb = std::array<std::uint8_t, 3>;

    void setSize24(int w, int h) override
    {
        width = w;
        height = h;
        // Poisoned, so a pixel the renderer forgets shows up as (1, 2, 3).
        pixels.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3, 0);
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<std::uint8_t>(1 + i % 3);
    }
    std::uint8_t* rowPointer(int y) override { return pixels.data() + static_cast<std::size_t>(y) * width * 3; }
    void repaintNow() override { ++repaints; }

    Rgb at(int x, int y) const
    {
        const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
        return {pixels[i], pixels[i + 1], pixels[i + 2]};
    }

    int width = -1;
    int height = -1;
    int repaints = 0;
    std::vector<std::uint8_t> pixels;
};

inline constexpr VectorImage::Rgb LightBlue{0, 255, 255};
inline constexpr VectorImage::Rgb Red{255, 0, 0};
inline constexpr VectorImage::Rgb grey(int n)
{
    return {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n)};
}

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the test.
class TempDir
{
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelvox-vol-XXXXXX").string();
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

    std::string path(const std::string& name) const { return (m_path / name).string(); }

    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) const
    {
        const std::string p = path(name);
        std::ofstream out(p, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p;
    }

private:
    std::filesystem::path m_path;
};
