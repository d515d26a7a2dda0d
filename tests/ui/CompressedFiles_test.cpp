// Compressed files in the window: the strip and the readout say the bytes
// are shown unpacked, a cancelled index pass changes nothing, and Save Layout
// As keeps the encoding.

#include "ui/CompressedFiles.h"

#include "layout/LayoutFile.h"
#include "platform/Ole.h"
#include "ui/Kelvox_Dialogs.h"
#include "ui/Kelvox_fm_Main.h"
#include "ui/NumberFormat.h"
#include "volume/Kelvox_DataMgr.h"

#include "support/MainWindowFixture.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

class CompressedFilesInWindow : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        if (HasFatalFailure())
            return;
        start();

        // 16 x 12 x 8 Int-16 voxels; the gzip copy is made by the gzip program.
        QByteArray bytes;
        for (int i = 0; i < 16 * 12 * 8; ++i) {
            bytes.append(static_cast<char>(i & 0xFF));
            bytes.append(static_cast<char>(i >> 8));
        }
        raw = writeFile(QStringLiteral("scan.raw"), bytes);
        packed = raw + QStringLiteral(".gz");
        ASSERT_EQ(QProcess::execute(QStringLiteral("sh"),
                                    {QStringLiteral("-c"), QStringLiteral("gzip -c '%1' > '%2'").arg(raw, packed)}),
                  0);
    }

    void TearDown() override
    {
        IndexProgressDialog::setCancelHandler({});
        MainWindowFixture::TearDown();
    }

    void open(const QString& path) { openThroughMenu(path); }

    QString raw;
    QString packed;
};

TEST_F(CompressedFilesInWindow, StripAndReadoutSayUnpacked)
{
    open(packed);
    EXPECT_EQ(strip(), packed + QStringLiteral("  (gzip, shown unpacked)"));
    const ReadoutTexts unpacked = voxelReadout(*dataMgr, vkSlice, 3, 2, ShownPosition{1, 0, 0}, QLocale::c());
    EXPECT_TRUE(unpacked.panel2.contains(QStringLiteral("Byte Offset (unpacked): "))) << unpacked.panel2.toStdString();
    open(raw);
    EXPECT_EQ(strip(), raw);
    const ReadoutTexts plain = voxelReadout(*dataMgr, vkSlice, 3, 2, ShownPosition{1, 0, 0}, QLocale::c());
    EXPECT_TRUE(plain.panel2.contains(QStringLiteral("  Byte Offset: "))) << plain.panel2.toStdString();

    // Cut short: what inflated is shown, the strip says why it ends.
    QFile cut(packed);
    ASSERT_TRUE(cut.resize(cut.size() / 2));
    open(packed);
    EXPECT_TRUE(strip().startsWith(packed + QStringLiteral("  (gzip, shown unpacked; the gzip data is cut short after ")))
        << strip().toStdString();
    EXPECT_TRUE(strip().endsWith(QStringLiteral(" unpacked bytes)"))) << strip().toStdString();
}

TEST_F(CompressedFilesInWindow, CancelledIndexPassChangesNothing)
{
    open(raw);
    IndexProgressDialog::setCancelHandler([] { return true; });
    open(packed);
    EXPECT_EQ(strip(), raw);
    EXPECT_EQ(dataMgr->FileName, QFile::encodeName(raw).toStdString());
    IndexProgressDialog::setCancelHandler([] { return false; });
    open(packed);
    EXPECT_EQ(dataMgr->FileName, QFile::encodeName(packed).toStdString());
}

TEST_F(CompressedFilesInWindow, SaveLayoutAsKeepsGzipEncoding)
{
    open(packed);
    window->findChild<QLineEdit*>(QStringLiteral("ed_VoxelsPerRow"))->setText(QStringLiteral("16"));
    window->findChild<QLineEdit*>(QStringLiteral("ed_RowsPerSlice"))->setText(QStringLiteral("12"));
    window->findChild<QLineEdit*>(QStringLiteral("ed_SlicesPerVolume"))->setText(QStringLiteral("2"));
    window->findChild<QComboBox*>(QStringLiteral("cb_DataType"))->setCurrentIndex(vdtInt16);
    nextSaveAnswer = tempDir.filePath(QStringLiteral("scan.nhdr"));
    window->findChild<QAction*>(QStringLiteral("mi_SaveLayoutAs"))->trigger();
    const LayoutFileReading reading = readLayoutFile(QFile::encodeName(nextSaveAnswer).toStdString());
    ASSERT_EQ(reading.outcome, LayoutFileReading::Outcome::Layout) << reading.refusal;
    EXPECT_EQ(reading.contents.encoding, VolumeEncoding::Gzip);
    EXPECT_EQ(reading.contents.dataPath, QFile::encodeName(packed).toStdString());
    // The whole volumes count in the unpacked bytes: 3072 bytes of 768-byte
    // volumes (the packed file is far smaller).
    EXPECT_EQ(reading.contents.layout.volumes, 4);
    EXPECT_EQ(reading.contents.layout.dataType, vdtInt16);
}

} // namespace
