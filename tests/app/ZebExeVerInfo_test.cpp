#include "app/ZebExeVerInfo.h"

#include "../platform/ElfTestImage.h"
#include "platform/VersionInfo.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

// Pins LC_ALL (the first variable the system language is read from).
class ScopedLocale
{
public:
    explicit ScopedLocale(const char* locale)
    {
        if (const char* old = std::getenv("LC_ALL")) {
            m_old = old;
        }
        ::setenv("LC_ALL", locale, 1);
    }
    ~ScopedLocale()
    {
        if (m_old) {
            ::setenv("LC_ALL", m_old->c_str(), 1);
        } else {
            ::unsetenv("LC_ALL");
        }
    }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;

private:
    std::optional<std::string> m_old;
};

std::vector<versioninfo::Entry> table(const std::string& key, const std::string& description)
{
    const std::string prefix = "\\StringFileInfo\\" + key + "\\";
    return {
        versioninfo::textEntry(prefix + "CompanyName", "Kelvox project"),
        versioninfo::textEntry(prefix + "FileDescription", description),
        versioninfo::textEntry(prefix + "FileVersion", "0.1.0.0"),
        versioninfo::textEntry(prefix + "LegalCopyright", ""),
        versioninfo::textEntry(prefix + "OriginalFilename", "orig"),
        versioninfo::textEntry(prefix + "ProductName", ""),
        versioninfo::textEntry(prefix + "Comments", "note"),
    };
}

class ExeVerInfo : public ::testing::Test
{
protected:
    // Writes an executable whose record holds the entries.
    QString executable(const QString& name, std::vector<versioninfo::Entry> entries)
    {
        const auto block = versioninfo::buildBlock(entries);
        const auto image = elftest::makeImage(true, false, {{".text", {0x90}}, {VersionSectionName, block}});
        const QString path = m_dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(image.bytes.data()), static_cast<qint64>(image.bytes.size()));
        return path;
    }

    QString usEnglishProgram()
    {
        auto entries = table("040904E4", "Kelvox");
        entries.push_back(versioninfo::translationEntry(0x0409, 0x04E4));
        return executable(QStringLiteral("viewer.exe"), entries);
    }

    QTemporaryDir m_dir;
};

struct BaseNameCase
{
    const char* path;
    const char* baseName;
};

class ExeBaseName : public ::testing::TestWithParam<BaseNameCase>
{
};

} // namespace

TEST_P(ExeBaseName, CutsBeforeTheFirstDotOfTheFileName)
{
    EXPECT_EQ(TExeVerInfo::baseNameOf(QString::fromUtf8(GetParam().path)), QString::fromUtf8(GetParam().baseName));
}

INSTANTIATE_TEST_SUITE_P(Paths, ExeBaseName,
                         ::testing::Values(BaseNameCase{"/opt/kelvox/viewer.exe", "viewer"},
                                           BaseNameCase{"/opt/a.b.exe", "a"}, BaseNameCase{"/usr/bin/viewer", "viewer"},
                                           BaseNameCase{"/dir.with.dots/prog", "prog"},
                                           BaseNameCase{"/x/.hidden", ""}, BaseNameCase{"viewer.exe", "viewer"},
                                           BaseNameCase{"", ""}),
                         [](const auto& info) {
                             std::string name;
                             for (const char c : std::string(info.param.baseName)) {
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : 'x';
                             }
                             return "Case" + std::to_string(info.index) + name;
                         });

TEST(TranslationKey, FourUpperCaseHexDigitsEach)
{
    EXPECT_EQ(TExeVerInfo::translationKey(0x0409, 0x04E4), QStringLiteral("040904E4"));
    EXPECT_EQ(TExeVerInfo::translationKey(0x040C, 0x04E4), QStringLiteral("040C04E4"));
    EXPECT_EQ(TExeVerInfo::translationKey(0x0007, 0xABCD), QStringLiteral("0007ABCD"));
}

TEST_F(ExeVerInfo, ReadsAllSevenStringsOnAUsSystem)
{
    const ScopedLocale locale("en_US.UTF-8");
    const TExeVerInfo info(usEnglishProgram());
    EXPECT_EQ(info.ExeBaseName, QStringLiteral("viewer"));
    EXPECT_GT(info.VerSize, 0u);
    EXPECT_EQ(info.CompanyName, QStringLiteral("Kelvox project"));
    EXPECT_EQ(info.FileDescription, QStringLiteral("Kelvox"));
    EXPECT_EQ(info.FileVersion, QStringLiteral("0.1.0.0"));
    EXPECT_EQ(info.LegalCopyright, QString());
    EXPECT_EQ(info.OriginalFilename, QStringLiteral("orig"));
    EXPECT_EQ(info.ProductName, QString());
    EXPECT_EQ(info.Comments, QStringLiteral("note"));
    EXPECT_TRUE(info.VerBuffer.empty()); // released after loading
}

TEST_F(ExeVerInfo, GermanSystemFallsBackToTheRecordsTranslation)
{
    const ScopedLocale locale("de_DE.UTF-8");
    const TExeVerInfo info(usEnglishProgram());
    EXPECT_EQ(info.FileDescription, QStringLiteral("Kelvox"));
    EXPECT_EQ(info.FileVersion, QStringLiteral("0.1.0.0"));
    EXPECT_EQ(info.ProductName, QString());
}

TEST_F(ExeVerInfo, SystemLanguageTableWinsOverTheTranslationEntry)
{
    auto entries = table("040904E4", "Kelvox");
    const auto german = table("040704E4", "Kelvox (deutsch)");
    entries.insert(entries.end(), german.begin(), german.end());
    entries.push_back(versioninfo::translationEntry(0x0409, 0x04E4));
    const QString path = executable(QStringLiteral("both"), entries);

    const ScopedLocale locale("de_DE.UTF-8");
    EXPECT_EQ(TExeVerInfo(path).FileDescription, QStringLiteral("Kelvox (deutsch)"));
    const ScopedLocale french("fr_FR.UTF-8");
    EXPECT_EQ(TExeVerInfo(path).FileDescription, QStringLiteral("Kelvox"));
}

TEST_F(ExeVerInfo, RecordInAnotherLanguageIsFoundOnAUsSystem)
{
    auto entries = table("040704E4", "Betrachter");
    entries.push_back(versioninfo::translationEntry(0x0407, 0x04E4));
    const ScopedLocale locale("C");
    EXPECT_EQ(TExeVerInfo(executable(QStringLiteral("de"), entries)).FileDescription, QStringLiteral("Betrachter"));
}

TEST_F(ExeVerInfo, WithoutTranslationEntryOnlyTheSystemLanguageIsTried)
{
    const QString path = executable(QStringLiteral("bare"), table("040904E4", "Kelvox"));
    {
        const ScopedLocale locale("en_US");
        EXPECT_EQ(TExeVerInfo(path).FileDescription, QStringLiteral("Kelvox"));
    }
    const ScopedLocale locale("de_DE");
    EXPECT_EQ(TExeVerInfo(path).FileDescription, QString());
}

TEST_F(ExeVerInfo, FilesWithoutRecordGiveEmptyStrings)
{
    const ScopedLocale locale("en_US");
    for (const QString& path : {m_dir.filePath(QStringLiteral("missing.exe")), QStringLiteral("/proc/self/exe"),
                                m_dir.path()}) {
        const TExeVerInfo info(path);
        EXPECT_EQ(info.VerSize, 0u) << path.toStdString();
        for (const QString* s : {&info.CompanyName, &info.FileDescription, &info.FileVersion, &info.LegalCopyright,
                                 &info.OriginalFilename, &info.ProductName, &info.Comments}) {
            EXPECT_TRUE(s->isEmpty()) << path.toStdString();
        }
    }
}

TEST_F(ExeVerInfo, LookupsAfterLoadingFindNothingRatherThanReadFreedMemory)
{
    const ScopedLocale locale("en_US");
    TExeVerInfo info(usEnglishProgram());
    EXPECT_EQ(info.GetVersionString(QStringLiteral("FileDescription")), QString());
}

TEST(ExeVerInfoOfTheProgram, TheBuiltProgramCarriesItsRecord)
{
    for (const char* name : {"en_US.UTF-8", "de_DE.UTF-8", "C"}) {
        const ScopedLocale locale(name);
        const TExeVerInfo info(QStringLiteral(KELVOX_EXECUTABLE));
        EXPECT_EQ(info.ExeBaseName, QStringLiteral("kelvox"));
        EXPECT_EQ(info.FileDescription, QStringLiteral("Kelvox")) << name;
        EXPECT_EQ(info.FileVersion, QStringLiteral("0.1.0.0")) << name;
        EXPECT_FALSE(info.CompanyName.isEmpty()) << name;
        EXPECT_TRUE(info.ProductName.isEmpty()) << name;
    }

    // The fixed part and the keys that no field holds are there as well.
    const QByteArray path = QByteArrayLiteral(KELVOX_EXECUTABLE);
    DWORD handle = 0;
    std::vector<char> block(GetFileVersionInfoSizeA(path.constData(), &handle));
    ASSERT_FALSE(block.empty());
    ASSERT_NE(GetFileVersionInfoA(path.constData(), 0, static_cast<DWORD>(block.size()), block.data()), FALSE);
    void* value = nullptr;
    UINT len = 0;
    ASSERT_NE(VerQueryValueA(block.data(), "\\", &value, &len), FALSE);
    VsFixedFileInfo fixed;
    ASSERT_EQ(len, sizeof fixed);
    std::memcpy(&fixed, value, sizeof fixed);
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00000001u);
    EXPECT_EQ(fixed.dwFileVersionLS, 0u);
    EXPECT_EQ(fixed.dwProductVersionMS, 0x00000001u);
    EXPECT_EQ(fixed.dwFileOS, 4u);
    EXPECT_EQ(fixed.dwFileType, 1u);
    ASSERT_NE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904E4\\ProductVersion", &value, &len), FALSE);
    EXPECT_STREQ(static_cast<const char*>(value), "1.0.0.0");
    for (const char* key : {"InternalName", "LegalTrademarks"}) {
        const std::string sub = std::string("\\StringFileInfo\\040904E4\\") + key;
        EXPECT_NE(VerQueryValueA(block.data(), sub.c_str(), &value, &len), FALSE) << key;
        EXPECT_EQ(len, 0u) << key;
    }
}

TEST(ExeVerInfoOfTheProgram, DefaultConstructionReadsTheRunningExecutable)
{
    const TExeVerInfo info;
    EXPECT_EQ(info.ExePath, QFile::symLinkTarget(QStringLiteral("/proc/self/exe")));
    EXPECT_EQ(info.ExeBaseName, QStringLiteral("ZebExeVerInfo_test"));
    EXPECT_TRUE(info.FileDescription.isEmpty()); // test programs carry no record
}
