#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// The version strings of an executable, read once at construction from the
// version record the build attaches to it. Nothing is raised when the file
// has no record or cannot be read: the strings stay empty.
class TExeVerInfo
{
public:
    // The running executable (/proc/self/exe).
    TExeVerInfo();
    // Any executable; used for other files and by tests.
    explicit TExeVerInfo(const QString& exePath);

    TExeVerInfo(const TExeVerInfo&) = delete;
    TExeVerInfo& operator=(const TExeVerInfo&) = delete;

    // Reads the record of ExePath and fills the seven key strings.
    void LoadVersionInfo();

    // The value of key in the record's string table, or an empty string.
    // The record is only held while LoadVersionInfo runs; at any other time
    // there is nothing to look in and the result is empty.
    QString GetVersionString(const QString& key);

    // "LLLLCCCC": language and code page as four upper-case hex digits each.
    static QString translationKey(std::uint16_t language, std::uint16_t codePage);

    // The file name of path without its directory, cut before its first ".".
    static QString baseNameOf(const QString& path);

    QString ExePath;
    QString ExeBaseName;
    std::uint32_t VerHandle = 0;
    std::uint32_t VerSize = 0;
    std::vector<char> VerBuffer;
    void* ValuePtr = nullptr;
    std::uint32_t ValueLen = 0;
    QString CompanyName;
    QString FileDescription;
    QString FileVersion;
    QString LegalCopyright;
    QString OriginalFilename;
    QString ProductName;
    QString Comments;

private:
    // Value of subBlock when present and non-empty text; empty otherwise.
    QString queryText(const QString& subBlock);
};

// The one instance, created by main() before any window and kept to the end.
extern TExeVerInfo* ExeVerInfo;
