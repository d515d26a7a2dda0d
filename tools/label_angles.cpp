// Shows the rotated label at its eight angles side by side, as the main
// window uses it (black 11-pixel "Arial" on the window colour), with the
// construction defaults on white, and disabled on the window colour.
//
//   label-angles [output.png]
//
// With an output file the window is grabbed into it and the program ends;
// otherwise it stays open until closed.
#include "ui/ZebRotateLabel.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Rotated label at eight angles"));
    auto* grid = new QGridLayout(&window);
    for (int a = 0; a < 8; ++a) {
        const auto angle = static_cast<TZebRotateLabel::TAngleChoice>(a);
        auto* heading = new QLabel(QStringLiteral("%1°").arg(45 * a), &window);
        heading->setAlignment(Qt::AlignCenter);
        grid->addWidget(heading, 0, a);
        for (int row = 1; row <= 3; ++row) {
            auto* label = new TZebRotateLabel(&window);
            label->setFixedSize(100, 100);
            label->setAngle(angle);
            if (row == 1) {
                QFont font(QStringLiteral("Arial"));
                font.setStyleHint(QFont::SansSerif);
                font.setPixelSize(11);
                label->setFont(font);
                label->setFontColor(Qt::black);
                label->setCaption(QStringLiteral("<-- Index 1"));
            } else if (row == 2) {
                label->setColor(Qt::white);
                label->setCaption(QStringLiteral("R&D Kelvox"));
            } else {
                label->setCaption(QStringLiteral("R&D Kelvox"));
                label->setEnabled(false);
            }
            grid->addWidget(label, row, a);
        }
    }
    window.show();
    if (argc > 1) {
        const QString target = QString::fromLocal8Bit(argv[1]);
        QTimer::singleShot(300, &window, [&window, target] {
            QApplication::exit(window.grab().save(target) ? 0 : 1);
        });
    }
    return QApplication::exec();
}
