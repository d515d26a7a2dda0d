#pragma once

#include "ui/NumberFormat.h"
#include "ui/ViewRenderer.h"
#include "volume/ViewZoom.h"
#include "volume/VoxelType.h"

#include <QMainWindow>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

class QAction;
class QCloseEvent;
class QEvent;
class QLineEdit;
class QTimer;
class QWidget;
class TDropFileTarget;
class TKelvoxDataMgr;
struct VolumeLayout;
class UpDownSpinner;
class ViewBorder;
class ViewImageWidget;
class EdgeAnchors;

namespace Ui {
class Tfm_Main;
}

// Last accepted text of an intensity edit and its caret position (the start
// of its selection) at that moment.
struct TEdPrevState
{
    QString Text;
    std::int32_t CaretPos = 0;
};

// The main window: the geometry guess, data type, byte order and intensity
// window as controls, four views of the data manager's renders, the voxel
// readout in the status bar, and the File and Help menus. Holds no volume
// data of its own; dataMgr must outlive the window.
class Tfm_Main : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Tfm_Main)

public:
    // fileDescription becomes the caption at the first activation.
    Tfm_Main(TKelvoxDataMgr& dataMgr, QString fileDescription, QWidget* parent = nullptr);
    ~Tfm_Main() override;

    // Handler of the drop target on pa_FileName: opens the first name as the
    // File menu does; an empty list does nothing.
    void DropFileTarget1Drop(const QStringList& names);

    // The drop target that makes pa_FileName accept files from the desktop
    // shell. It registers when the window gets its native window, which
    // needs OLE initialised on the GUI thread (OleInitialize) beforehand.
    TDropFileTarget* dropFileTarget() const { return DropFileTarget1.get(); }

    // Opens path as File > Open does, right after the first activation has
    // filled in the defaults (at once when it already has). Start-up uses it
    // for the file named on the command line.
    void openFileAtStart(const QString& path);

    // Applies the parameters, lays out the views and renders all four: with
    // a file open on the view renderer's thread (each view shows that it is
    // loading until its picture lands; viewsRefreshed follows the last), 
    // without one at once (nothing to read). A newer refresh or change
    // supersedes a render in progress. The refresh timer and Close File call it.
    void RefreshViews();
    // A render of the views is in progress.
    bool viewsLoading() const;

    // Takes a layout stated by the user's choice (a guess picked, a layout
    // file opened): dimensions, data type, byte order and header bytes go
    // into their controls through the controls' normal change paths, the
    // slice edit gets slice, and that slice's own value range becomes the
    // intensity window as with "Apply". The views then refresh once, when
    // the refresh timer runs out. Dimensions beyond the edits' range are
    // held to it as typed ones are.
    void applyLayout(const VolumeLayout& layout, std::int64_t slice);

    // The zoom the four views share, and whether it follows Fit (recomputed
    // from the scrolling area whenever the views are laid out).
    TViewZoom zoom() const { return m_zoom; }
    bool zoomFollowsFit() const { return m_zoomFit; }
    // The zoom the first refresh uses (start-up: --zoom); Fit when fit.
    void setStartZoom(TViewZoom zoom, bool fit);

signals:
    void aboutRequested(); // mi_AboutClick
    void helpRequested();  // mi_HelpClick
    // RefreshViews has rendered the views (also raised after a refresh that
    // failed part-way, before the error is reported).
    void viewsRefreshed();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void wireEvents();
    void applyFonts();
    void createDropFileTarget1();

    // Form events.
    void FormCreate();
    void FormActivate();
    void FormClose();
    void CollectViewControls();

    // Menus and file handling.
    void mi_OpenClick();
    void mi_CloseClick();
    void mi_GuessLayoutClick();
    void mi_QuitClick();
    void openFile(const QString& path);
    // Layout files (Kelvox_fm_MainLayoutFiles.cpp).
    void mi_SaveLayoutAsClick();
    bool openLayoutFile(const QString& path);

    // View parameters and the refresh cycle.
    void ed_NumberChange(QLineEdit* edit);
    void ComboChanges();
    void Timer1Timer();
    void ck_CrossSliceDisableClick();
    void ParamsChanged();
    void ApplyParams();
    void LayoutViews();
    UpDownSpinner* spinnerOf(const QLineEdit* edit) const;

    // Intensity range.
    void EditIntChange(QLineEdit* edit);
    void bt_UseIntensityClick();
    // Writes window (low, high) into the intensity edits.
    void showIntensityWindow(const std::pair<double, double>& window);
    // The data type chosen in the combo, and an intensity edit's value under
    // it (0 where the text does not convert).
    TVoxelDataType selectedDataType() const;
    double intensityOf(const QLineEdit* edit) const;
    void pi_IR_Click(const QAction* item);
    void showIntensityMenu(const QPoint& pos);

    // Zoom (View menu, Ctrl + wheel over a view).
    void mi_ZoomInClick();
    void mi_ZoomOutClick();
    void mi_ZoomFitClick();
    void mi_ActualSizeClick();
    // Shows the views at zoom (Fit when fit) at once.
    void applyZoom(TViewZoom zoom, bool fit);
    void showZoom();

    // A view's render has landed (from the view renderer): it becomes the
    // picture on screen and what the readout describes.
    void viewLanded(ViewRenderer::Result& result);
    // The labels and shown positions for a view rendered at position at.
    void viewShown(TViewKind view, const ShownPosition& at);

    // Voxel readout.
    void ImageMouseMove(const QObject* sender, int x, int y);

    std::unique_ptr<Ui::Tfm_Main> ui;
    TKelvoxDataMgr& DataMgr;
    QString m_fileDescription;
    QString m_lastOpenPath;
    std::optional<QString> m_startFile;
    QTimer* Timer1 = nullptr;
    std::unique_ptr<TDropFileTarget> DropFileTarget1;
    EdgeAnchors* m_anchors = nullptr;

    bool Activated = false;
    bool InChange = false;
    TEdPrevState PrevIntensityMin;
    TEdPrevState PrevIntensityMax;
    TEdPrevState PrevHeaderBytes;
    // What each view shows, as its picture was rendered.
    std::array<ShownPosition, 4> m_shown{};
    std::unique_ptr<ViewRenderer> m_renderer;
    TViewZoom m_zoom;
    bool m_zoomFit = false;
    std::array<QWidget*, 4> ViewPanels{};
    std::array<ViewImageWidget*, 4> ViewImages{};
    std::array<ViewBorder*, 4> ViewBorders{};
};
