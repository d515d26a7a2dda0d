#pragma once

#include <QDialog>

#include <memory>

class QKeyEvent;

namespace Ui {
class Tfm_Help;
}

// The Help window: one read-only, unwrapped text box with the fixed help
// page. Created hidden at start-up and kept for the whole run, so the text
// keeps its scroll and caret position between showings.
class Tfm_Help : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Tfm_Help)

public:
    // mainWindow (also the parent) is the window the Help window is centred
    // over the first time it is shown; it may be null.
    explicit Tfm_Help(QWidget* mainWindow);
    ~Tfm_Help() override;

    // Shows the window modally: returns when the user closes it. Every other
    // window of the program takes no input meanwhile.
    void showModal();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::unique_ptr<Ui::Tfm_Help> ui;
    QWidget* m_mainWindow = nullptr;
    bool m_placed = false;
};
