#include "platform/VersionInfo.h"

#include "ElfTestImage.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes sampleBlock()
{
    VsFixedFileInfo fixed;
    fixed.dwFileVersionMS = 0x00000001;
    return versioninfo::buildBlock({
        versioninfo::fixedInfoEntry(fixed),
        versioninfo::textEntry("\\StringFileInfo\\040904E4\\FileDescription", "Kelvox"),
        versioninfo::textEntry("\\StringFileInfo\\040904E4\\ProductName", ""),
        versioninfo::translationEntry(0x0409, 0x04E4),
    });
}

std::string queryText(const Bytes& block, const char* path, UINT* lenOut = nullptr)
{
    void* value = nullptr;
    UINT len = 0;
    if (VerQueryValueA(block.data(), path, &value, &len) == FALSE) {
        return "<absent>";
    }
    if (lenOut != nullptr) {
        *lenOut = len;
    }
    return len == 0 ? std::string() : std::string(static_cast<const char*>(value));
}

void putLe32(Bytes& b, std::size_t at, std::uint32_t v)
{
    for (std::size_t i = 0; i < 4; ++i) {
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

class TempDir
{
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelvox-verinfo-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
    }
    ~TempDir() { std::filesystem::remove_all(m_path); }
    std::filesystem::path file(const std::string& name, const Bytes& content) const
    {
        const auto path = m_path / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(content.data()),
                                                     static_cast<std::streamsize>(content.size()));
        return path;
    }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace

TEST(VersionBlock, ServesStringsFixedInfoAndTranslation)
{
    const Bytes block = sampleBlock();
    UINT len = 99;
    EXPECT_EQ(queryText(block, "\\StringFileInfo\\040904E4\\FileDescription", &len), "Kelvox");
    EXPECT_EQ(len, 7u); // characters with the terminator

    void* value = nullptr;
    ASSERT_NE(VerQueryValueA(block.data(), "\\", &value, &len), FALSE);
    ASSERT_EQ(len, sizeof(VsFixedFileInfo));
    VsFixedFileInfo fixed;
    std::memcpy(&fixed, value, sizeof fixed);
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwFileVersionMS, 1u);

    ASSERT_NE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &len), FALSE);
    ASSERT_EQ(len, 4u);
    const auto* pair = static_cast<const std::uint8_t*>(value);
    EXPECT_EQ(pair[0] | (pair[1] << 8), 0x0409);
    EXPECT_EQ(pair[2] | (pair[3] << 8), 0x04E4);
}

TEST(VersionBlock, EmptyTextIsFoundWithLengthZero)
{
    UINT len = 99;
    EXPECT_EQ(queryText(sampleBlock(), "\\StringFileInfo\\040904E4\\ProductName", &len), "");
    EXPECT_EQ(len, 0u);
}

TEST(VersionBlock, PathsCompareWithoutCaseAndOtherTranslationsAreAbsent)
{
    const Bytes block = sampleBlock();
    EXPECT_EQ(queryText(block, "\\stringfileinfo\\040904e4\\filedescription"), "Kelvox");
    EXPECT_EQ(queryText(block, "StringFileInfo\\040904E4\\FileDescription"), "Kelvox");
    EXPECT_EQ(queryText(block, "\\StringFileInfo\\040704E4\\FileDescription"), "<absent>");
    EXPECT_EQ(queryText(block, "\\StringFileInfo\\040904E4\\FileDescriptio"), "<absent>");
    EXPECT_EQ(queryText(block, "\\StringFileInfo\\040904E4\\FileDescription\\"), "<absent>");
}

TEST(VersionBlock, NullArgumentsFailAndClearOutputs)
{
    const Bytes block = sampleBlock();
    void* value = reinterpret_cast<void*>(1);
    UINT len = 5;
    EXPECT_EQ(VerQueryValueA(nullptr, "\\", &value, &len), FALSE);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(VerQueryValueA(block.data(), nullptr, &value, &len), FALSE);
    EXPECT_EQ(VerQueryValueA(block.data(), "\\", nullptr, &len), FALSE);
    EXPECT_EQ(VerQueryValueA(block.data(), "\\", &value, nullptr), FALSE);
}

TEST(VersionBlock, BuilderRefusesPathsOutsideLimits)
{
    EXPECT_THROW(versioninfo::buildBlock({versioninfo::textEntry("", "x")}), std::invalid_argument);
    EXPECT_THROW(versioninfo::buildBlock({versioninfo::textEntry(std::string(256, 'p'), "x")}),
                 std::invalid_argument);
    EXPECT_NO_THROW(versioninfo::buildBlock({versioninfo::textEntry(std::string(255, 'p'), "x")}));
}

TEST(VersionBlock, EveryTruncationIsRejected)
{
    const Bytes block = sampleBlock();
    ASSERT_EQ(versioninfo::validBlockSize(block), block.size());
    for (std::size_t n = 0; n < block.size(); ++n) {
        const Bytes prefix(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(versioninfo::validBlockSize(prefix), 0u) << "prefix of " << n;
        // A size field that admits only part of the entries fails as well.
        if (n >= 16) {
            Bytes shortened = block;
            putLe32(shortened, 8, static_cast<std::uint32_t>(n));
            EXPECT_EQ(versioninfo::validBlockSize(shortened), 0u) << "size field " << n;
        }
    }
}

struct Corruption
{
    const char* name;
    std::function<void(Bytes&)> apply;
};

class VersionBlockCorruption : public ::testing::TestWithParam<Corruption>
{
};

TEST_P(VersionBlockCorruption, IsRejectedAndQueriesFail)
{
    Bytes block = sampleBlock();
    GetParam().apply(block);
    EXPECT_EQ(versioninfo::validBlockSize(block), 0u);
    std::size_t offset = 0;
    std::uint32_t len = 0;
    bool text = false;
    EXPECT_FALSE(versioninfo::queryBlock(block, "\\StringFileInfo\\040904E4\\FileDescription", offset, len, text));
}

// The first entry (the fixed info) starts at 16: path length, kind, value length.
INSTANTIATE_TEST_SUITE_P(
    Hostile, VersionBlockCorruption,
    ::testing::Values(
        Corruption{"BadMagic", [](Bytes& b) { b[0] = 'X'; }},
        Corruption{"SizeBelowHeader", [](Bytes& b) { putLe32(b, 8, 15); }},
        Corruption{"SizeBeyondBuffer", [](Bytes& b) { putLe32(b, 8, static_cast<std::uint32_t>(b.size() + 4)); }},
        Corruption{"SizeBeyondLimit", [](Bytes& b) { putLe32(b, 8, MaxVersionBlockSize + 4); }},
        Corruption{"CountTooLarge", [](Bytes& b) { putLe32(b, 12, 5); }},
        Corruption{"CountHuge", [](Bytes& b) { putLe32(b, 12, 0xFFFFFFFFu); }},
        Corruption{"PathLengthZero", [](Bytes& b) { b[16] = 0; b[17] = 0; }},
        Corruption{"PathLengthTooLong", [](Bytes& b) { b[16] = 0x00; b[17] = 0x01; }},
        Corruption{"UnknownKind", [](Bytes& b) { b[18] = 2; }},
        Corruption{"ValueLengthHuge", [](Bytes& b) { putLe32(b, 20, 0xFFFFFFF0u); }},
        Corruption{"ValuePastEnd", [](Bytes& b) { putLe32(b, 20, static_cast<std::uint32_t>(b.size())); }},
        Corruption{"TextWithoutTerminator",
                   [](Bytes& b) {
                       // The first text value ("Kelvox\0") follows the fixed info entry.
                       const std::string needle = "Kelvox";
                       const auto it = std::search(b.begin(), b.end(), needle.begin(), needle.end());
                       *(it + static_cast<std::ptrdiff_t>(needle.size())) = '!';
                   }}),
    [](const ::testing::TestParamInfo<Corruption>& info) { return std::string(info.param.name); });

struct ElfKind
{
    bool is64;
    bool bigEndian;
};

class ElfSection : public ::testing::TestWithParam<ElfKind>
{
protected:
    elftest::ImageLayout image(const std::vector<elftest::Section>& sections) const
    {
        return elftest::makeImage(GetParam().is64, GetParam().bigEndian, sections);
    }
};

TEST_P(ElfSection, FindsTheNamedSectionOnly)
{
    const Bytes block = sampleBlock();
    const auto img = image({{".text", Bytes(40, 0x90)}, {VersionSectionName, block}, {".kelvox.versionx", {1, 2}}});
    EXPECT_EQ(versioninfo::readElfSection(img.bytes, VersionSectionName, MaxVersionBlockSize), block);
    EXPECT_EQ(versioninfo::readElfSection(img.bytes, ".text", 1000), Bytes(40, 0x90));
    EXPECT_TRUE(versioninfo::readElfSection(img.bytes, ".kelvox", 1000).empty());
    EXPECT_TRUE(versioninfo::readElfSection(img.bytes, ".data", 1000).empty());
}

TEST_P(ElfSection, RefusesNoBitsAndOversizedSections)
{
    const auto img = image({{VersionSectionName, Bytes(64, 7), 8}});
    EXPECT_TRUE(versioninfo::readElfSection(img.bytes, VersionSectionName, 1000).empty());
    const auto big = image({{VersionSectionName, Bytes(64, 7)}});
    EXPECT_TRUE(versioninfo::readElfSection(big.bytes, VersionSectionName, 63).empty());
    EXPECT_EQ(versioninfo::readElfSection(big.bytes, VersionSectionName, 64).size(), 64u);
}

TEST_P(ElfSection, EveryTruncatedImageGivesNothingOrTheWholeSection)
{
    const Bytes block = sampleBlock();
    const auto img = image({{VersionSectionName, block}});
    for (std::size_t n = 0; n < img.bytes.size(); ++n) {
        const Bytes prefix(img.bytes.begin(), img.bytes.begin() + static_cast<std::ptrdiff_t>(n));
        const Bytes got = versioninfo::readElfSection(prefix, VersionSectionName, MaxVersionBlockSize);
        EXPECT_TRUE(got.empty()) << "cut at " << n; // the section headers sit at the end
    }
}

TEST_P(ElfSection, HostileHeaderFieldsAreRejected)
{
    const bool is64 = GetParam().is64;
    const elftest::Writer w(GetParam().bigEndian);
    const auto img = image({{VersionSectionName, sampleBlock()}});
    const std::size_t word = is64 ? 8 : 4;
    const std::size_t versionHeader = img.sectionHeadersAt + 2 * img.sectionHeaderSize;
    const std::size_t namesHeader = img.sectionHeadersAt + img.sectionHeaderSize;
    const std::vector<std::function<void(Bytes&)>> mutations{
        [&](Bytes& b) { w.put(b, is64 ? 0x28 : 0x20, b.size() + 8, word); },         // shoff past the end
        [&](Bytes& b) { w.put(b, is64 ? 0x28 : 0x20, ~std::uint64_t{0} >> (64 - 8 * word), word); }, // shoff huge
        [&](Bytes& b) { w.put(b, is64 ? 0x3A : 0x2E, is64 ? 63 : 39, 2); },          // entries too small
        [&](Bytes& b) { w.put(b, is64 ? 0x3C : 0x30, 0xFFFE, 2); },                  // count past the end
        [&](Bytes& b) { w.put(b, is64 ? 0x3E : 0x32, 7, 2); },                       // names index out of range
        [&](Bytes& b) { w.put(b, versionHeader, 0xFFFFFF, 4); },                     // name past the name table
        [&](Bytes& b) { w.put(b, versionHeader + (is64 ? 24 : 16), b.size(), word); }, // content past the end
        [&](Bytes& b) { w.put(b, versionHeader + (is64 ? 24 : 16), ~std::uint64_t{0} >> (64 - 8 * word), word); },
        [&](Bytes& b) { w.put(b, versionHeader + (is64 ? 32 : 20), ~std::uint64_t{0} >> (64 - 8 * word), word); },
        [&](Bytes& b) { w.put(b, namesHeader + (is64 ? 32 : 20), b.size() * 4, word); }, // name table too long
        [&](Bytes& b) { w.put(b, namesHeader + 4, 8, 4); },                           // name table NOBITS
        [&](Bytes& b) { b[4] = 3; },                                                   // unknown class
        [&](Bytes& b) { b[5] = 0; },                                                   // unknown byte order
    };
    for (std::size_t i = 0; i < mutations.size(); ++i) {
        Bytes bytes = img.bytes;
        mutations[i](bytes);
        EXPECT_TRUE(versioninfo::readElfSection(bytes, VersionSectionName, MaxVersionBlockSize).empty())
            << "mutation " << i;
    }
}

TEST_P(ElfSection, ExtendedSectionCountAndNameIndexAreFollowed)
{
    const bool is64 = GetParam().is64;
    const elftest::Writer w(GetParam().bigEndian);
    const Bytes block = sampleBlock();
    auto img = image({{VersionSectionName, block}});
    // Count 0 and index 0xFFFF: section 0 carries them in its size and link fields.
    w.put(img.bytes, is64 ? 0x3C : 0x30, 0, 2);
    w.put(img.bytes, is64 ? 0x3E : 0x32, 0xFFFF, 2);
    w.put(img.bytes, img.sectionHeadersAt + (is64 ? 32 : 20), 3, is64 ? 8 : 4);
    w.put(img.bytes, img.sectionHeadersAt + (is64 ? 40 : 24), 1, 4);
    EXPECT_EQ(versioninfo::readElfSection(img.bytes, VersionSectionName, MaxVersionBlockSize), block);
}

INSTANTIATE_TEST_SUITE_P(AllClasses, ElfSection,
                         ::testing::Values(ElfKind{true, false}, ElfKind{true, true}, ElfKind{false, false},
                                           ElfKind{false, true}),
                         [](const ::testing::TestParamInfo<ElfKind>& info) {
                             return std::string(info.param.is64 ? "Elf64" : "Elf32")
                                    + (info.param.bigEndian ? "Big" : "Little");
                         });

TEST(VersionFile, ReadsTheRecordOfAnExecutableFile)
{
    const TempDir dir;
    const Bytes block = sampleBlock();
    const auto path = dir.file("viewer", elftest::makeImage(true, false, {{VersionSectionName, block}}).bytes);

    DWORD handle = 77;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    EXPECT_EQ(handle, 0u);
    ASSERT_EQ(size, block.size());

    Bytes copy(size + 8, 0xAA);
    ASSERT_NE(GetFileVersionInfoA(path.c_str(), 0, size, copy.data()), FALSE);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), copy.begin()));
    EXPECT_EQ(copy[size], 0xAA); // nothing written past the block
    EXPECT_EQ(queryText(copy, "\\StringFileInfo\\040904E4\\FileDescription"), "Kelvox");

    // A buffer too small for the block is refused rather than filled in part.
    Bytes small(size - 1, 0xAA);
    EXPECT_EQ(GetFileVersionInfoA(path.c_str(), 0, size - 1, small.data()), FALSE);
    EXPECT_EQ(small, Bytes(size - 1, 0xAA));
    EXPECT_EQ(GetFileVersionInfoA(path.c_str(), 0, size, nullptr), FALSE);
}

TEST(VersionFile, FilesWithoutAUsableRecordHaveSizeZero)
{
    const TempDir dir;
    Bytes corrupt = sampleBlock();
    corrupt[0] = 'x';
    const std::vector<std::filesystem::path> paths{
        dir.path() / "missing",
        dir.path(),
        dir.file("empty", {}),
        dir.file("text", Bytes{'h', 'e', 'l', 'l', 'o'}),
        dir.file("no-record", elftest::makeImage(true, false, {{".text", Bytes(16, 1)}}).bytes),
        dir.file("corrupt-record", elftest::makeImage(true, false, {{VersionSectionName, corrupt}}).bytes),
        std::filesystem::path("/proc/self/exe"), // the test program carries no record
    };
    for (const auto& path : paths) {
        EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), nullptr), 0u) << path;
        Bytes buffer(4096, 0);
        EXPECT_EQ(GetFileVersionInfoA(path.c_str(), 0, 4096, buffer.data()), FALSE) << path;
    }
    EXPECT_EQ(GetFileVersionInfoSizeA(nullptr, nullptr), 0u);
}

TEST(VersionFile, AFifoIsRefusedWithoutWaitingForAWriter)
{
    const TempDir dir;
    const auto fifo = dir.path() / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GetFileVersionInfoSizeA(fifo.c_str(), nullptr), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}
