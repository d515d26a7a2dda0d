// Writes the program's version record (the block format of
// platform/VersionInfo.h) to the file named by the only argument; the build
// then attaches it to the kelvox executable as an ELF section.
#include "platform/VersionInfo.h"

#include <cstdio>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

namespace {

// File and product version 0.1.0.0 as (major << 16 | minor, build << 16 | revision).
constexpr std::uint32_t VersionMS = (0u << 16) | 1u;
constexpr std::uint32_t VersionLS = (0u << 16) | 0u;
constexpr std::uint16_t LanguageUsEnglish = 0x0409;
constexpr std::uint16_t CodePage1252 = 0x04E4;

std::vector<versioninfo::Entry> programRecord()
{
    VsFixedFileInfo fixed;
    fixed.dwFileVersionMS = VersionMS;
    fixed.dwFileVersionLS = VersionLS;
    fixed.dwProductVersionMS = VersionMS;
    fixed.dwProductVersionLS = VersionLS;

    std::vector<versioninfo::Entry> entries{versioninfo::fixedInfoEntry(fixed)};
    const std::string table = "\\StringFileInfo\\040904E4\\";
    const std::pair<const char*, const char*> strings[] = {
        {"CompanyName", "Kelvox project"},
        {"FileDescription", "Kelvox"},
        {"FileVersion", "0.1.0.0"},
        {"InternalName", ""},
        {"LegalCopyright", ""},
        {"LegalTrademarks", ""},
        {"OriginalFilename", ""},
        {"ProductName", ""},
        {"ProductVersion", "1.0.0.0"},
        {"Comments", ""},
    };
    for (const auto& [key, value] : strings) {
        entries.push_back(versioninfo::textEntry(table + key, value));
    }
    entries.push_back(versioninfo::translationEntry(LanguageUsEnglish, CodePage1252));
    return entries;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_version_block <output file>\n");
        return 2;
    }
    try {
        const std::vector<std::uint8_t> block = versioninfo::buildBlock(programRecord());
        std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
        if (!out) {
            std::fprintf(stderr, "make_version_block: cannot write %s\n", argv[1]);
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_version_block: %s\n", e.what());
        return 1;
    }
    return 0;
}
