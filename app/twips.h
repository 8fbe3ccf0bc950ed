// Laying out the windows: geometry is given in twips; 15 twips make one pixel at 96 dots per
// inch.
#pragma once

#include <QGuiApplication>
#include <QPushButton>
#include <QRect>
#include <QScreen>
#include <QString>
#include <QWidget>

namespace velindra {

constexpr int Px(int twips) {
    return twips / 15;
}

inline void Place(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(Px(left), Px(top), Px(width), Px(height));
}

// A named push button at a fixed place; no button of the program is a default button.
inline QPushButton* PlaceButton(QWidget* parent, const char* name, const QString& caption, int left,
                                int top, int width, int height) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromUtf8(name));
    b->setAutoDefault(false);
    b->setDefault(false);
    Place(b, left, top, width, height);
    return b;
}

// Moves a window so that it is centred over the given window, or over the screen without one.
inline void CentreOver(QWidget* window, const QWidget* over = nullptr) {
    QRect area;
    if (over) {
        area = over->frameGeometry();
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    } else {
        return;
    }
    QRect frame(QPoint(), window->size());
    frame.moveCenter(area.center());
    window->move(frame.topLeft());
}

}  // namespace velindra
