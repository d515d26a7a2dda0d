// The window's refresh against the renders it is made of: RefreshViews in
// an offscreen window versus the four RenderView calls it makes, painted
// into plain memory. The difference is the window's own cost: layout,
// repaint of the four images and the two labels. RefreshViews hands the
// renders to the window's view renderer; a refresh is measured until its
// last view has landed.
//
//   refreshViewsAtFit/Float32Huge         the refresh at Fit of a 1.6 GB
//                       float32 file (page-cached), with the process's
//                       resident memory after it as the counter "rss_mb"
#include "platform/Ole.h"
#include "ui/Kelvox_fm_Main.h"
#include "volume/Kelvox_DataMgr.h"
#include "volume/ViewImage.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct Volume
{
    int d0, d1, d2;
    int dataType; // item of the data-type list
    const char* name;
};

constexpr Volume Int16Cube{256, 256, 256, 1, "i16_256x256x256.raw"};
constexpr Volume Float32Wide{1024, 1024, 64, 3, "f32_1024x1024x64.raw"};
constexpr Volume Float32Huge{10000, 10000, 4, 3, "f32_10000x10000x4.raw"};

// Refreshes the window and waits until the views have landed.
void refreshAndWait(Tfm_Main& window)
{
    window.RefreshViews();
    while (window.viewsLoading()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    QCoreApplication::processEvents();
}

// Resident memory of the process in MB (VmRSS).
double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
    }
    return -1;
}

QTemporaryDir& scratch()
{
    static QTemporaryDir dir;
    return dir;
}

// A file with a smooth ramp of values, written once per run.
QString volumeFile(const Volume& v)
{
    const QString path = scratch().filePath(QString::fromLatin1(v.name));
    if (QFile::exists(path)) {
        return path;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        std::abort();
    }
    const int bytesPerVoxel = v.dataType == 1 ? 2 : 4;
    QByteArray slice(v.d0 * v.d1 * bytesPerVoxel, '\0');
    for (int z = 0; z < v.d2; ++z) {
        for (int i = 0; i < v.d0 * v.d1; ++i) {
            const int value = (i % v.d0 + i / v.d0 + z * 3) % 4000;
            if (v.dataType == 1) {
                const auto raw = static_cast<std::uint16_t>(value);
                slice[2 * i] = static_cast<char>(raw & 0xFFU);
                slice[2 * i + 1] = static_cast<char>(raw >> 8U);
            } else {
                float f = static_cast<float>(value) * 0.25f;
                std::uint32_t raw = 0;
                std::memcpy(&raw, &f, sizeof raw);
                for (int b = 0; b < 4; ++b) {
                    slice[4 * i + b] = static_cast<char>((raw >> (8U * static_cast<unsigned>(b))) & 0xFFU);
                }
            }
        }
        file.write(slice);
    }
    return path;
}

struct Fixture
{
    TKelvoxDataMgr dataMgr;
    std::unique_ptr<Tfm_Main> window;

    explicit Fixture(const Volume& v, bool fit = false)
    {
        window = std::make_unique<Tfm_Main>(dataMgr, QStringLiteral("Kelvox"));
        window->show();
        window->activateWindow();
        // The first activation writes the start-up values; ours come after.
        QElapsedTimer waited;
        waited.start();
        while (!window->isActiveWindow() && waited.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        const auto setText = [this](const char* name, int value) {
            window->findChild<QLineEdit*>(QString::fromLatin1(name))->setText(QString::number(value));
        };
        setText("ed_VoxelsPerRow", v.d0);
        setText("ed_RowsPerSlice", v.d1);
        setText("ed_SlicesPerVolume", v.d2);
        setText("ed_SliceNumber", v.d2 / 2);
        setText("ed_CrossSliceViewY", v.d1 / 2);
        setText("ed_IntensityMax", 1000);
        auto* types = window->findChild<QComboBox*>(QStringLiteral("cb_DataType"));
        types->setCurrentIndex(v.dataType);
        emit types->activated(v.dataType);
        window->DropFileTarget1Drop({volumeFile(v)});
        // Keep the timer from refreshing on its own while measuring.
        window->findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
        if (fit) {
            window->setStartZoom(TViewZoom{}, true);
        }
        refreshAndWait(*window); // warm the file cache and the bitmaps
    }
};

void refreshViews(benchmark::State& state, const Volume& v)
{
    Fixture f(v);
    for (auto _ : state) {
        refreshAndWait(*f.window);
    }
}

void refreshViewsAtFit(benchmark::State& state, const Volume& v)
{
    Fixture f(v, true);
    for (auto _ : state) {
        refreshAndWait(*f.window);
    }
    state.counters["rss_mb"] = residentMb();
    state.SetLabel(zoomText(f.window->zoom()));
}

void fourRenders(benchmark::State& state, const Volume& v)
{
    Fixture f(v);
    std::array<MemoryViewImage, 4> images;
    const std::int32_t slice = v.d2 / 2;
    const std::int32_t row = v.d1 / 2;
    for (auto _ : state) {
        f.dataMgr.RenderView(0, slice, vkSlice, images[0]);
        f.dataMgr.RenderView(0, slice + 1, vkNextSlice, images[1]);
        f.dataMgr.RenderView(0, row, vkCrossSlice, images[2]);
        f.dataMgr.RenderView(1, slice, vkOtherVolume, images[3]);
    }
}

BENCHMARK_CAPTURE(fourRenders, Int16Cube, Int16Cube)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(refreshViews, Int16Cube, Int16Cube)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(fourRenders, Float32Wide, Float32Wide)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(refreshViews, Float32Wide, Float32Wide)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(refreshViewsAtFit, Float32Huge, Float32Huge)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    OleInitialize(nullptr); // the window's drop target registers under OLE
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    OleUninitialize();
    return 0;
}
