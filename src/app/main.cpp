// Start-up: OLE for the drop target, the data manager, the version record,
// the application object, then the main window, the About box and the Help
// window; the message loop runs until the main window closes.
#include "app/Kelvox_Application.h"
#include "app/Kelvox_fm_About.h"
#include "app/Kelvox_fm_Help.h"
#include "app/ZebExeVerInfo.h"
#include "platform/Ole.h"
#include "ui/Kelvox_Dialogs.h"
#include "ui/Kelvox_fm_Main.h"
#include "volume/Kelvox_DataMgr.h"

#include <memory>

int main(int argc, char** argv)
{
    OleInitialize(nullptr);

    // Process-wide objects: created before any window, kept until the end.
    const auto dataMgr = std::make_unique<TKelvoxDataMgr>();
    DataMgr = dataMgr.get();
    const auto exeVerInfo = std::make_unique<TExeVerInfo>();
    ExeVerInfo = exeVerInfo.get();

    int result = 0;
    {
        TKelvoxApplication application(argc, argv);

        Tfm_Main fm_Main(*DataMgr, ExeVerInfo->FileDescription);
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
