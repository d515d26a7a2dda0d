#pragma once

// Builds small ELF images (32 or 64-bit, either byte order) with named
// sections, for the version-record tests.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace elftest {

struct Section
{
    std::string name;
    std::vector<std::uint8_t> content;
    std::uint32_t type = 1; // PROGBITS
};

struct ImageLayout
{
    std::vector<std::uint8_t> bytes;
    std::size_t sectionHeadersAt = 0;
    std::size_t sectionHeaderSize = 0;
};

class Writer
{
public:
    explicit Writer(bool bigEndian)
        : m_bigEndian(bigEndian)
    {
    }

    void put(std::vector<std::uint8_t>& out, std::size_t at, std::uint64_t value, std::size_t width) const
    {
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t shift = 8 * (m_bigEndian ? width - 1 - i : i);
            out[at + i] = static_cast<std::uint8_t>((value >> shift) & 0xFF);
        }
    }

private:
    bool m_bigEndian;
};

// Section 0 is the null section, then .shstrtab, then the given sections.
inline ImageLayout makeImage(bool is64, bool bigEndian, const std::vector<Section>& sections)
{
    const Writer w(bigEndian);
    const std::size_t headerSize = is64 ? 64 : 52;
    const std::size_t shentsize = is64 ? 64 : 40;
    const std::size_t word = is64 ? 8 : 4;

    std::vector<std::uint8_t> names{0};
    std::vector<std::size_t> nameOffsets;
    const auto addName = [&](const std::string& name) {
        nameOffsets.push_back(names.size());
        names.insert(names.end(), name.begin(), name.end());
        names.push_back(0);
    };
    addName(".shstrtab");
    for (const Section& s : sections) {
        addName(s.name);
    }

    std::vector<std::uint8_t> out(headerSize, 0);
    out[0] = 0x7F;
    out[1] = 'E';
    out[2] = 'L';
    out[3] = 'F';
    out[4] = is64 ? 2 : 1;
    out[5] = bigEndian ? 2 : 1;
    out[6] = 1;

    std::vector<std::pair<std::size_t, std::size_t>> placed; // offset, size
    placed.emplace_back(out.size(), names.size());
    out.insert(out.end(), names.begin(), names.end());
    for (const Section& s : sections) {
        placed.emplace_back(out.size(), s.content.size());
        out.insert(out.end(), s.content.begin(), s.content.end());
    }
    while (out.size() % 8 != 0) {
        out.push_back(0);
    }

    const std::size_t shoff = out.size();
    const std::size_t shnum = sections.size() + 2;
    out.resize(shoff + shnum * shentsize, 0);
    for (std::size_t i = 1; i < shnum; ++i) {
        const std::size_t at = shoff + i * shentsize;
        const std::uint32_t type = i == 1 ? 3 : sections[i - 2].type; // STRTAB for the names
        w.put(out, at, nameOffsets[i - 1], 4);
        w.put(out, at + 4, type, 4);
        w.put(out, at + (is64 ? 24 : 16), placed[i - 1].first, word);
        w.put(out, at + (is64 ? 32 : 20), placed[i - 1].second, word);
    }

    w.put(out, 16, 2, 2); // ET_EXEC
    w.put(out, is64 ? 0x28 : 0x20, shoff, word);
    w.put(out, is64 ? 0x3A : 0x2E, shentsize, 2);
    w.put(out, is64 ? 0x3C : 0x30, shnum, 2);
    w.put(out, is64 ? 0x3E : 0x32, 1, 2);
    return {out, shoff, shentsize};
}

} // namespace elftest
