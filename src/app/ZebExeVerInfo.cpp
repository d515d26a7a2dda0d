#include "app/ZebExeVerInfo.h"

#include "platform/SystemLocale.h"
#include "platform/VersionInfo.h"

#include <QFile>

TExeVerInfo* ExeVerInfo = nullptr;

namespace {

// Code page 1252, the fixed half of the string table's key.
constexpr std::uint16_t CodePage1252 = 0x04E4;

} // namespace

TExeVerInfo::TExeVerInfo()
    : TExeVerInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")))
{
}

TExeVerInfo::TExeVerInfo(const QString& exePath)
    : ExePath(exePath)
    , ExeBaseName(baseNameOf(exePath))
{
    LoadVersionInfo();
}

void TExeVerInfo::LoadVersionInfo()
{
    const QByteArray path = QFile::encodeName(ExePath);
    VerSize = GetFileVersionInfoSizeA(path.constData(), &VerHandle);
    if (VerSize == 0) {
        return;
    }
    VerBuffer.assign(VerSize, '\0');
    if (GetFileVersionInfoA(path.constData(), 0, VerSize, VerBuffer.data()) != FALSE) {
        CompanyName = GetVersionString(QStringLiteral("CompanyName"));
        FileDescription = GetVersionString(QStringLiteral("FileDescription"));
        FileVersion = GetVersionString(QStringLiteral("FileVersion"));
        LegalCopyright = GetVersionString(QStringLiteral("LegalCopyright"));
        OriginalFilename = GetVersionString(QStringLiteral("OriginalFilename"));
        ProductName = GetVersionString(QStringLiteral("ProductName"));
        Comments = GetVersionString(QStringLiteral("Comments"));
    }
    VerBuffer.clear();
    VerBuffer.shrink_to_fit();
    ValuePtr = nullptr;
    ValueLen = 0;
}

QString TExeVerInfo::GetVersionString(const QString& key)
{
    if (VerBuffer.empty()) {
        return {};
    }
    const QString systemKey = translationKey(GetSystemDefaultLangID(), CodePage1252);
    QString value = queryText(QStringLiteral("\\StringFileInfo\\%1\\%2").arg(systemKey, key));
    if (!value.isEmpty()) {
        return value;
    }

    // Nothing under the system's language: use the record's own first
    // Translation entry, so non-US systems still see the strings.
    UINT len = 0;
    void* translation = nullptr;
    if (VerQueryValueA(VerBuffer.data(), "\\VarFileInfo\\Translation", &translation, &len) == FALSE || len < 4) {
        return {};
    }
    // The pair is stored little-endian: language, then code page.
    const auto* bytes = static_cast<const unsigned char*>(translation);
    const auto language = static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
    const auto codePage = static_cast<std::uint16_t>(bytes[2] | (bytes[3] << 8));
    const QString recordKey = translationKey(language, codePage);
    if (recordKey == systemKey) {
        return {};
    }
    return queryText(QStringLiteral("\\StringFileInfo\\%1\\%2").arg(recordKey, key));
}

QString TExeVerInfo::queryText(const QString& subBlock)
{
    const QByteArray path = subBlock.toLatin1();
    ValuePtr = nullptr;
    ValueLen = 0;
    UINT len = 0;
    if (VerQueryValueA(VerBuffer.data(), path.constData(), &ValuePtr, &len) == FALSE || len == 0) {
        ValueLen = 0;
        return {};
    }
    ValueLen = len;
    return QString::fromLocal8Bit(static_cast<const char*>(ValuePtr));
}

QString TExeVerInfo::translationKey(std::uint16_t language, std::uint16_t codePage)
{
    return QString::asprintf("%.4X%.4X", static_cast<unsigned>(language), static_cast<unsigned>(codePage));
}

QString TExeVerInfo::baseNameOf(const QString& path)
{
    const QString fileName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    return fileName.left(fileName.indexOf(QLatin1Char('.')));
}
