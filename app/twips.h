#pragma once

#include <QRect>
#include <QWidget>

namespace velindra {

// Window geometry is laid out in twips; 15 twips make one pixel at 96 dots per inch.
constexpr int Px(int twips) {
    return twips / 15;
}

inline void Place(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(Px(left), Px(top), Px(width), Px(height));
}

}  // namespace velindra
