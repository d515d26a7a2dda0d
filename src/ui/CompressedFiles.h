#pragma once

#include "volume/GzipStream.h"

#include <QElapsedTimer>
#include <QString>

#include <functional>
#include <memory>

class QProgressDialog;
class QWidget;
class TKelvoxDataMgr;

// The file-name strip for the data manager's last open: the open file's name,
// followed for a compressed file by "  (gzip, shown unpacked)" and, where the
// data ends early, the reason; else the open's error text.
QString fileStripText(const TKelvoxDataMgr& dataMgr);

// The index pass of a compressed file as the window shows it: a modal
// progress dialog that appears once the pass has run for half a second, whose
// Cancel button stops the pass (the open then changes nothing). Short passes
// and plain files show nothing.
class IndexProgressDialog
{
public:
    IndexProgressDialog(QWidget* parent, QString fileName);
    ~IndexProgressDialog();
    IndexProgressDialog(const IndexProgressDialog&) = delete;
    IndexProgressDialog& operator=(const IndexProgressDialog&) = delete;

    // The callback for TKelvoxDataMgr::OpenFile; valid while this lives.
    IndexProgress callback();

    // Tests answer here instead of a person: called on every report, true
    // cancels. Empty for the real dialog.
    static void setCancelHandler(std::function<bool()> handler);

private:
    bool report(std::int64_t done, std::int64_t total);

    QWidget* m_parent;
    QString m_fileName;
    std::unique_ptr<QProgressDialog> m_dialog;
    QElapsedTimer m_started;
};
