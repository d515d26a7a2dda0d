#pragma once

#include "volume/ViewZoom.h"

#include <QString>
#include <QStringList>

#include <string>

// What `kelvox [options] [FILE]` asks for. Reading it needs no display and no
// application object, so --help and --version work on a text console.
struct KelvoxCommandLine
{
    enum class Action {
        Run,         // start the window (and open File when HasFile)
        ShowHelp,    // print the usage to standard output, exit 0
        ShowVersion, // print the program's version to standard output, exit 0
        Fail,        // print Error and the usage to standard error, exit 2
    };

    Action action = Action::Run;
    bool HasFile = false;
    QString File;
    // --zoom 1:k|n:1|fit: the zoom the window starts at (1:1 by default).
    TViewZoom Zoom;
    bool ZoomFit = false;
    QString Error;
};

// Exit status of a command line the program does not understand.
inline constexpr int CommandLineUsageExitCode = 2;

// Reads the program's arguments (arguments[0] is the program itself). The
// toolkit's own options (-platform, -style, ...) are not accepted: the
// environment (QT_QPA_PLATFORM, ...) sets those. "--" ends the options, so a
// file whose name starts with "-" can be given after it.
KelvoxCommandLine parseCommandLine(const QStringList& arguments);

// FILE as an absolute name, taken relative to currentDir (the bytes of the
// working folder) unless it starts with "/"; empty stays empty. The name is
// not cleaned: "a/../b" through a symlinked "a" is another file than "b".
QString absoluteFileArgument(const QString& file, const std::string& currentDir);

// The text --help prints.
QString commandLineUsage();

// The line --version prints: "kelvox <fileVersion>".
QString commandLineVersion(const QString& fileVersion);
