#include "ui/CompressedFiles.h"

#include "platform/qt/QtFileNames.h"
#include "volume/Kelvox_DataMgr.h"

#include <QCoreApplication>
#include <QProgressDialog>

namespace {

// A pass shorter than this shows no dialog.
constexpr qint64 ShowAfterMs = 500;
constexpr int ProgressSteps = 1000;

std::function<bool()>& cancelHandler()
{
    static std::function<bool()> handler;
    return handler;
}

// The window's one name conversion, lossless for names that are not UTF-8.
QString fromFileSystemName(const std::string& name)
{
    return QStringFromFileName(name);
}

} // namespace

QString fileStripText(const TKelvoxDataMgr& dataMgr)
{
    if (dataMgr.FileName.empty() || !dataMgr.Stream)
        return fromFileSystemName(dataMgr.ErrorText);
    QString text = fromFileSystemName(dataMgr.FileName);
    const std::string note = unpackedNote(*dataMgr.Stream);
    if (!note.empty())
        text += QStringLiteral("  (") + QString::fromStdString(note) + u')';
    return text;
}

IndexProgressDialog::IndexProgressDialog(QWidget* parent, QString fileName)
    : m_parent(parent), m_fileName(std::move(fileName))
{
    m_started.start();
}

IndexProgressDialog::~IndexProgressDialog() = default;

IndexProgress IndexProgressDialog::callback()
{
    return [this](std::int64_t done, std::int64_t total) { return report(done, total); };
}

void IndexProgressDialog::setCancelHandler(std::function<bool()> handler)
{
    cancelHandler() = std::move(handler);
}

bool IndexProgressDialog::report(std::int64_t done, std::int64_t total)
{
    if (cancelHandler())
        return !cancelHandler()();
    if (!m_dialog) {
        if (m_started.elapsed() < ShowAfterMs)
            return true;
        m_dialog = std::make_unique<QProgressDialog>(
            QStringLiteral("Indexing the compressed file %1 …").arg(m_fileName), QStringLiteral("Cancel"), 0,
            ProgressSteps, m_parent);
        m_dialog->setWindowTitle(QStringLiteral("Opening"));
        m_dialog->setWindowModality(Qt::WindowModal);
        m_dialog->setMinimumDuration(0);
        m_dialog->setAutoClose(false);
        m_dialog->setAutoReset(false);
        m_dialog->show();
    }
    const int step = total > 0 ? static_cast<int>(static_cast<double>(done) / static_cast<double>(total) * ProgressSteps)
                               : 0;
    // setValue lets the dialog's own events (the Cancel click) through only
    // when the value moves; a pass that creeps (a bomb) is served here.
    if (step != m_dialog->value())
        m_dialog->setValue(step);
    else
        QCoreApplication::processEvents();
    return !m_dialog->wasCanceled();
}
