// The main window's layout files: Save Layout As... and opening or dropping
// layout files, driven through the window's own controls and menus.

#include "ui/Kelvox_fm_Main.h"

#include "support/LayoutBuilders.h"
#include "support/MainWindowFixture.h"

#include "layout/LayoutFile.h"
#include "platform/Ole.h"
#include "platform/qt/QtFileNames.h"
#include "ui/Kelvox_Dialogs.h"
#include "volume/Kelvox_DataMgr.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <memory>

namespace {

class MainWindowLayoutFiles : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        if (!HasFatalFailure())
            start();
    }

    void open(const QString& path) { openThroughMenu(path); }

    // The controls' texts and choices that make up the parameters.
    QStringList parameters() const
    {
        QStringList texts;
        for (const char* name : {"ed_VoxelsPerRow", "ed_RowsPerSlice", "ed_SlicesPerVolume", "ed_SliceNumber",
                                 "ed_HeaderBytes", "ed_IntensityMin", "ed_IntensityMax"})
            texts << edit(name)->text();
        texts << QString::number(child<QComboBox>("cb_DataType")->currentIndex())
              << QString::number(child<QComboBox>("cb_ByteOrder")->currentIndex());
        return texts;
    }

    // A 3 x 2 x 4 UInt-16 big-endian file behind 6 header bytes, two whole
    // volumes; slice z holds 100 z + 1 .. 100 z + 6 in volume 0.
    QString writeVolumes()
    {
        QByteArray bytes("HEADER", 6);
        for (int v = 0; v < 2; ++v)
            for (int z = 0; z < 4; ++z)
                for (int i = 1; i <= 6; ++i) {
                    const int value = 1000 * v + 100 * z + i;
                    bytes.append(static_cast<char>(value >> 8));
                    bytes.append(static_cast<char>(value & 0xFF));
                }
        return writeFile(QStringLiteral("scan.raw"), bytes);
    }
};

TEST_F(MainWindowLayoutFiles, SaveLayoutAsIsEnabledWhileAFileIsOpen)
{
    QAction* save = child<QAction>("mi_SaveLayoutAs");
    EXPECT_FALSE(save->isEnabled());
    open(writeVolumes());
    EXPECT_TRUE(save->isEnabled());
    child<QAction>("mi_Close")->trigger();
    EXPECT_FALSE(save->isEnabled());
    open(tempDir.filePath(QStringLiteral("missing.raw")));
    EXPECT_FALSE(save->isEnabled());
}

TEST_F(MainWindowLayoutFiles, SavesTheParametersAsTheyStandInTheChosenFormat)
{
    const QString raw = writeVolumes();
    open(raw);
    waitForRefresh();
    paste(edit("ed_VoxelsPerRow"), QStringLiteral("3"));
    paste(edit("ed_RowsPerSlice"), QStringLiteral("2"));
    paste(edit("ed_SlicesPerVolume"), QStringLiteral("4"));
    paste(edit("ed_HeaderBytes"), QStringLiteral("6"));
    choose(child<QComboBox>("cb_DataType"), vdtUInt16);
    choose(child<QComboBox>("cb_ByteOrder"), boBigEndian);

    struct Case
    {
        QString answer; // relative to the temporary folder
        int filter; // index into the dialog's file types
        QString written;
    };
    const Case cases[] = {
        {QStringLiteral("a.nhdr"), 0, QStringLiteral("a.nhdr")},
        {QStringLiteral("b"), 1, QStringLiteral("b.mhd")}, // the file type adds its extension
        {QStringLiteral("c.nhdr"), 1, QStringLiteral("c.nhdr")}, // the name's extension wins
        {QStringLiteral("d.mhd"), 0, QStringLiteral("d.mhd")},
    };
    for (const Case& c : cases) {
        nextSaveAnswer = tempDir.filePath(c.answer);
        nextSaveFilter.clear();
        child<QAction>("mi_SaveLayoutAs")->trigger();
        ASSERT_EQ(saveFilters, QStringList({QStringLiteral("NRRD header (*.nhdr)"),
                                            QStringLiteral("MetaImage header (*.mhd)")}));
        nextSaveFilter = saveFilters[c.filter];
        child<QAction>("mi_SaveLayoutAs")->trigger();
        const LayoutFileReading reading = readLayoutFile(QFile::encodeName(tempDir.filePath(c.written)).toStdString());
        ASSERT_EQ(reading.outcome, LayoutFileReading::Outcome::Layout) << c.written.toStdString() << reading.refusal;
        EXPECT_EQ(reading.contents.layout, layoutOf({3, 2, 4}, vdtUInt16, boBigEndian, 6, 2))
            << c.written.toStdString();
        EXPECT_EQ(reading.contents.dataPath, QFile::encodeName(raw).toStdString());
    }
    EXPECT_EQ(saveInitialPaths.value(0), tempDir.filePath(QStringLiteral("scan.nhdr")));
    EXPECT_FALSE(QFile::exists(tempDir.filePath(QStringLiteral("b"))));
}

TEST_F(MainWindowLayoutFiles, FailedSaveSaysWhyInAMessageBox)
{
    open(writeVolumes());
    nextSaveAnswer = tempDir.filePath(QStringLiteral("no/such/folder/x.nhdr"));
    child<QAction>("mi_SaveLayoutAs")->trigger();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors.takeFirst(), QStringLiteral("Cannot write ") + nextSaveAnswer +
                                      QStringLiteral(": No such file or directory"));
    nextSaveAnswer.clear(); // cancelled: nothing happens
    child<QAction>("mi_SaveLayoutAs")->trigger();
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(MainWindowLayoutFiles, OpeningALayoutFileSetsItsLayoutWithOneRefresh)
{
    const QString raw = writeVolumes();
    const QString header = writeFile(QStringLiteral("scan.nhdr"),
                                     "NRRD0004\ntype: ushort\ndimension: 4\nsizes: 3 2 4 2\nendian: big\n"
                                     "encoding: raw\nbyte skip: 6\ndata file: scan.raw\n");
    open(header);
    EXPECT_EQ(strip(), raw);
    EXPECT_EQ(parameters(), (QStringList{"3", "2", "4", "2", "6", "201", "206", QString::number(vdtUInt16),
                                         QString::number(boBigEndian)}));
    EXPECT_EQ(refreshed->count(), 0) << "nothing renders before the timer";
    waitForRefresh();
    QTest::qWait(400);
    EXPECT_EQ(refreshed->count(), 0) << "one refresh only";
    EXPECT_EQ(dataMgr->FileName, QFile::encodeName(raw).toStdString());
    EXPECT_EQ(dataMgr->ObservedMin, 201.0f);
    EXPECT_EQ(dataMgr->ObservedMax, 206.0f);
}

TEST_F(MainWindowLayoutFiles, DroppedMetaImageHeaderOpensItsDataLikeOpen)
{
    const QString raw = writeVolumes();
    const QString header = writeFile(QStringLiteral("scan.mhd"),
                                     "ObjectType = Image\nNDims = 3\nDimSize = 3 2 4\nElementType = MET_USHORT\n"
                                     "ElementByteOrderMSB = True\nHeaderSize = 6\nElementDataFile = scan.raw\n");
    window->DropFileTarget1Drop({header});
    EXPECT_EQ(strip(), raw);
    EXPECT_EQ(parameters(), (QStringList{"3", "2", "4", "2", "6", "201", "206", QString::number(vdtUInt16),
                                         QString::number(boBigEndian)}));
    waitForRefresh();
}

TEST_F(MainWindowLayoutFiles, RefusedLayoutFileChangesNothingButTheStrip)
{
    const QString raw = writeVolumes();
    open(raw);
    waitForRefresh();
    paste(edit("ed_VoxelsPerRow"), QStringLiteral("7"));
    waitForRefresh();
    const QStringList before = parameters();

    const QString header = writeFile(QStringLiteral("packed.nhdr"),
                                     "NRRD0004\ntype: ushort\ndimension: 3\nsizes: 3 2 4\nendian: big\n"
                                     "encoding: bzip2\ndata file: scan.raw\n");
    open(header);
    EXPECT_EQ(strip(), header + QStringLiteral(" uses bzip2 encoding, which Kelvox cannot show"));
    const QString missing = writeFile(QStringLiteral("lost.mhd"),
                                      "NDims = 3\nDimSize = 3 2 4\nElementType = MET_UCHAR\nElementDataFile = gone.raw\n");
    window->DropFileTarget1Drop({missing});
    EXPECT_EQ(strip(), missing + QStringLiteral(": its data file ") + tempDir.filePath(QStringLiteral("gone.raw")) +
                           QStringLiteral(" does not exist"));
    // A layout the edits cannot hold is refused, never shown cut.
    writeFile(QStringLiteral("wide.raw"), QByteArray(12000 * 40 * 3, '\0'));
    const QString wide = writeFile(QStringLiteral("wide.nhdr"), "NRRD0004\ntype: uchar\ndimension: 3\n"
                                                                 "sizes: 12000 40 3\nencoding: raw\ndata file: wide.raw\n");
    open(wide);
    EXPECT_EQ(strip(), wide + QStringLiteral(" states 12000 voxels per row, more than the 10000 Kelvox can show"));
    EXPECT_EQ(parameters(), before);
    EXPECT_EQ(dataMgr->FileName, QFile::encodeName(raw).toStdString()) << "the open file stays open";
    EXPECT_FALSE(refreshed->wait(500)) << "no refresh";
}

// Names that are not UTF-8 (here Latin-1) reach the file system byte for byte:
// opening a header, its data file and saving a header.
TEST_F(MainWindowLayoutFiles, NamesThatAreNotUtf8OpenAndSave)
{
    const std::string folder = QFile::encodeName(tempDir.path()).toStdString();
    const QString raw = writeVolumes();
    const std::string header = folder + "/caf\xe9.nhdr";
    std::ofstream(header) << "NRRD0004\ntype: ushort\ndimension: 4\nsizes: 3 2 4 2\nendian: big\n"
                             "encoding: raw\nbyte skip: 6\ndata file: scan.raw\n";
    open(QStringFromFileName(header));
    EXPECT_EQ(strip(), raw);
    EXPECT_EQ(parameters().mid(0, 3), (QStringList{"3", "2", "4"}));
    waitForRefresh();

    const std::string saved = folder + "/s\xe9.mhd";
    nextSaveAnswer = QStringFromFileName(saved);
    child<QAction>("mi_SaveLayoutAs")->trigger();
    const LayoutFileReading reading = readLayoutFile(saved);
    ASSERT_EQ(reading.outcome, LayoutFileReading::Outcome::Layout) << reading.refusal;
    EXPECT_EQ(reading.contents.layout.dims, (std::array<std::int64_t, 3>{3, 2, 4}));
}

// A header never replaces the file that holds the voxels: not the raw file
// itself, not an attached header holding them.
TEST_F(MainWindowLayoutFiles, SavingOverTheDataFileIsRefused)
{
    const QString raw = writeVolumes();
    open(raw);
    waitForRefresh();
    const QByteArray before = [&] {
        QFile f(raw);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    const QString link = tempDir.filePath(QStringLiteral("same.nhdr"));
    ASSERT_TRUE(QFile::link(raw, link));
    for (const QString& target : {raw, link}) {
        nextSaveAnswer = target;
        child<QAction>("mi_SaveLayoutAs")->trigger();
        ASSERT_EQ(errors.size(), 1);
        EXPECT_EQ(errors.takeFirst(),
                  QStringLiteral("Cannot write ") + target + QStringLiteral(": it is the file that holds the voxels; "
                                                                            "choose another name"));
        QFile f(raw);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), before);
    }
}

TEST_F(MainWindowLayoutFiles, ImageWithoutAnalyzeHeaderOpensAsRawBytes)
{
    paste(edit("ed_VoxelsPerRow"), QStringLiteral("5"));
    waitForRefresh();
    const QStringList before = parameters();
    const QString image = writeFile(QStringLiteral("plain.img"), QByteArray(100, 'x'));
    open(image);
    EXPECT_EQ(strip(), image);
    EXPECT_EQ(parameters(), before);
    waitForRefresh();
}

} // namespace
