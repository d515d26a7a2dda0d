#pragma once

#include <QDialog>

#include <memory>

class QKeyEvent;
class TExeVerInfo;

namespace Ui {
class Tfm_AboutBox;
}

// The About box: product line and version from the version record, a fixed
// copyright line and an OK button. Created hidden at start-up and kept for the
// whole run; closing it only hides it.
class Tfm_AboutBox : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Tfm_AboutBox)

public:
    // Reads verInfo once, now. mainWindow (also the parent) is the window the
    // box is centred over the first time it is shown; it may be null.
    Tfm_AboutBox(const TExeVerInfo& verInfo, QWidget* mainWindow);
    ~Tfm_AboutBox() override;

    // Shows the box without blocking the main window and brings it to the
    // front; the first showing centres it over the main window.
    void showModeless();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void wireEvents();
    void FormCreate(const TExeVerInfo& verInfo);
    void OKButtonClick();

    std::unique_ptr<Ui::Tfm_AboutBox> ui;
    QWidget* m_mainWindow = nullptr;
    bool m_placed = false;
};
