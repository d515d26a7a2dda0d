// Start-up: the command line (--help and --version need no display), OLE for
// the drop target, the data manager, the version record, the application
// object, then the main window, the About box and the Help window; the
// message loop runs until the main window closes.
#include "app/CommandLine.h"
#include "app/Kelvox_Application.h"
#include "app/Kelvox_fm_About.h"
#include "app/Kelvox_fm_Help.h"
#include "app/ZebExeVerInfo.h"
#include "platform/Ole.h"
#include "platform/qt/QtFileNames.h"
#include "ui/Kelvox_Dialogs.h"
#include "ui/Kelvox_fm_Main.h"
#include "volume/Kelvox_DataMgr.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

namespace {

void print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

// The working folder as bytes, or empty when it cannot be had.
std::string currentFolder()
{
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::current_path(error);
    return error ? std::string() : folder.native();
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        // Lossless: a file name need not be UTF-8.
        arguments << QStringFromFileName(argv[i]);
    }
    const KelvoxCommandLine commandLine = parseCommandLine(arguments);
    switch (commandLine.action) {
    case KelvoxCommandLine::Action::ShowHelp:
        print(stdout, commandLineUsage());
        return 0;
    case KelvoxCommandLine::Action::ShowVersion: {
        const TExeVerInfo versionInfo;
        print(stdout, commandLineVersion(versionInfo.FileVersion));
        return 0;
    }
    case KelvoxCommandLine::Action::Fail:
        print(stderr, QStringLiteral("kelvox: ") + commandLine.Error + QStringLiteral("\n\n") + commandLineUsage());
        return CommandLineUsageExitCode;
    case KelvoxCommandLine::Action::Run:
        break;
    }

    OleInitialize(nullptr);

    // Process-wide objects: created before any window, kept until the end.
    const auto dataMgr = std::make_unique<TKelvoxDataMgr>();
    DataMgr = dataMgr.get();
    const auto exeVerInfo = std::make_unique<TExeVerInfo>();
    ExeVerInfo = exeVerInfo.get();

    int result = 0;
    {
        // The toolkit sees no arguments: all of them were the program's own
        // (a FILE named like one of its options stays a file).
        int applicationArgc = 1;
        TKelvoxApplication application(applicationArgc, argv);

        Tfm_Main fm_Main(*DataMgr, ExeVerInfo->FileDescription);
        fm_Main.setStartZoom(commandLine.Zoom, commandLine.ZoomFit);
        // Both secondary windows belong to the main window and only hide when closed.
        auto* fm_AboutBox = new Tfm_AboutBox(*ExeVerInfo, &fm_Main);
        auto* fm_Help = new Tfm_Help(&fm_Main);

        QObject::connect(&fm_Main, &Tfm_Main::aboutRequested, fm_AboutBox, [&fm_Main, fm_AboutBox] {
            try {
                fm_AboutBox->showModeless();
            } catch (...) {
                Dialogs::reportCurrentException(&fm_Main);
            }
        });
        QObject::connect(&fm_Main, &Tfm_Main::helpRequested, fm_Help, [&fm_Main, fm_Help] {
            try {
                fm_Help->showModal();
            } catch (...) {
                Dialogs::reportCurrentException(&fm_Main);
            }
        });

        if (commandLine.HasFile) {
            // Opened as File > Open would, once the first activation has set
            // the defaults.
            fm_Main.openFileAtStart(absoluteFileArgument(commandLine.File, currentFolder()));
        }
        fm_Main.show();
        // The program's first window starts active, as on any desktop; without
        // a window manager (or with focus-stealing prevention) Qt would leave
        // it inactive and its first-activation defaults would never come.
        fm_Main.activateWindow();
        result = TKelvoxApplication::exec();
    }

    OleUninitialize();
    return result;
}
