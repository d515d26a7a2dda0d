// The main window's layout files: File > Save Layout As... writes the open
// file's layout as a detached NRRD or MetaImage header; opening or dropping a
// layout file opens its data file under the layout it states.

#include "ui/Kelvox_fm_Main.h"
#include "ui_Kelvox_fm_Main.h"

#include "layout/DataMgrLayout.h"
#include "layout/LayoutFile.h"
#include "platform/qt/QtFileNames.h"
#include "ui/CompressedFiles.h"
#include "ui/Kelvox_Dialogs.h"
#include "volume/Kelvox_DataMgr.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <vector>

namespace {

// The save dialog's file type of a format: "NRRD header (*.nhdr)".
QString saveFilter(const LayoutFileFormat& format)
{
    return QStringLiteral("%1 (*%2)")
        .arg(QString::fromUtf8(format.saveFilterName.data(), static_cast<qsizetype>(format.saveFilterName.size())),
             QString::fromUtf8(format.extensions.front().data(),
                               static_cast<qsizetype>(format.extensions.front().size())));
}

// The extension a saved header of format gets when its name has none.
QString saveSuffix(const LayoutFileFormat& format)
{
    return QString::fromUtf8(format.extensions.front().data(),
                             static_cast<qsizetype>(format.extensions.front().size()));
}

// The window's one name conversion, lossless for names that are not UTF-8.
std::string fileSystemName(const QString& path)
{
    return FileNameFromQString(path);
}

QString displayName(const std::string& name)
{
    return QStringFromFileName(name);
}

} // namespace

void Tfm_Main::mi_SaveLayoutAsClick()
{
    if (DataMgr.FileName.empty()) {
        return;
    }
    // The layout as the parameters stand, with the whole volumes the file holds.
    ApplyParams();
    const VolumeLayout layout = layoutOf(DataMgr);

    const QString dataPath = displayName(DataMgr.FileName);
    const QFileInfo data(dataPath);
    // The dialog's file types, one per format the program writes, the first
    // chosen to begin with.
    const std::vector<const LayoutFileFormat*> formats = writableLayoutFileFormats();
    QStringList filters;
    for (const LayoutFileFormat* format : formats) {
        filters << saveFilter(*format);
    }
    const QString initial = data.absoluteDir().filePath(data.completeBaseName() + saveSuffix(*formats.front()));
    QString filter;
    QString path = Dialogs::askSaveFileName(this, QStringLiteral("Save Layout As"), initial, filters, filter);
    if (path.isEmpty()) {
        return;
    }
    // The name's own extension decides; without one, the file type chosen.
    const LayoutFileFormat* format = layoutSaveFormatOf(fileSystemName(path));
    if (!format) {
        const qsizetype chosen = filters.indexOf(filter);
        format = formats[chosen < 0 ? 0 : static_cast<std::size_t>(chosen)];
        if (QFileInfo(path).suffix().isEmpty()) {
            path += saveSuffix(*format);
        }
    }
    try {
        writeLayoutFile(fileSystemName(path), *format, layout, DataMgr.FileName, DataMgr.Stream->encoding(),
                        DataMgr.Stream->streamStart());
    } catch (const LayoutFileError& error) {
        Dialogs::showError(this, displayName(error.what()));
    }
}

bool Tfm_Main::openLayoutFile(const QString& path)
{
    const LayoutFileReading reading = readLayoutFile(fileSystemName(path));
    if (reading.outcome == LayoutFileReading::Outcome::PlainData) {
        return false;
    }
    // A refusal, or a layout the edits cannot hold: nothing changes but the
    // strip; the open file and every parameter stay.
    std::string refusal = reading.refusal;
    if (reading.outcome == LayoutFileReading::Outcome::Layout) {
        const std::string reason = unshowableLayoutReason(reading.contents.layout);
        if (!reason.empty())
            refusal = fileSystemName(path) + " states " + reason;
    }
    if (!refusal.empty()) {
        ui->lb_FilePath->setText(displayName(refusal));
        ui->lb_FilePath->adjustSize();
        return true;
    }
    IndexProgressDialog indexing(this, displayName(reading.contents.dataPath));
    if (!DataMgr.OpenFile(reading.contents.dataPath, reading.contents.encoding, reading.contents.streamStart,
                          indexing.callback())) {
        return true; // the index pass was cancelled: nothing changes
    }
    const bool opened = !DataMgr.FileName.empty();
    ui->lb_FilePath->setText(fileStripText(DataMgr));
    ui->lb_FilePath->adjustSize();
    ui->mi_SaveLayoutAs->setEnabled(opened);
    ui->mi_GuessLayout->setEnabled(opened);
    if (!opened) {
        ParamsChanged();
        return true;
    }
    // The file states its layout; the middle slice gives the first picture
    // and its own value range the intensity window.
    const VolumeLayout& layout = reading.contents.layout;
    applyLayout(layout, layout.dims[2] / 2);
    return true;
}
