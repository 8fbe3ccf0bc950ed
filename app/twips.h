// Laying out the windows. Geometry is given in twips, drawn for a 9 pt font at 96 dots per
// inch, where 15 twips make one pixel. Like dialog units, the twips follow the window's font:
// a larger desktop font (or a font set for a higher DPI) grows every size and position of the
// window by the same factor, so texts keep fitting their controls.
#pragma once

#include <QFontInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QRect>
#include <QScreen>
#include <QString>
#include <QWidget>
#include <QtMath>

namespace velindra {

// The font the twips were drawn for: 9 pt at 96 DPI is a 12-pixel font.
inline constexpr double kReferenceFontPixels = 12.0;

// How much larger than the reference the window's font is.
inline double FontScale(const QWidget* window) {
    const QFontInfo info(window->font());
    const double pixels = info.pointSizeF() > 0 ? info.pointSizeF() * window->logicalDpiY() / 72.0
                                                : static_cast<double>(info.pixelSize());
    return pixels > 0 ? pixels / kReferenceFontPixels : 1.0;
}

// Twips to pixels for one window.
class Twips {
  public:
    explicit Twips(const QWidget* window) : factor_(FontScale(window)) {}
    double factor() const { return factor_; }
    int operator()(int twips) const { return qRound(twips * factor_ / 15.0); }
    QSize Size(int width, int height) const { return QSize((*this)(width), (*this)(height)); }
    // Edges are rounded, not sizes; a control flush with its container's edge stays inside it
    // at every factor (rounding may otherwise push it one pixel out).
    void Place(QWidget* w, int left, int top, int width, int height) const {
        const int x = (*this)(left), y = (*this)(top);
        int right = (*this)(left + width), bottom = (*this)(top + height);
        if (const QWidget* parent = w->parentWidget(); parent && !w->isWindow()) {
            if (right == parent->width() + 1)
                --right;
            if (bottom == parent->height() + 1)
                --bottom;
        }
        w->setGeometry(x, y, right - x, bottom - y);
    }

  private:
    double factor_;
};

// A push button as on the desktop the windows imitate: Enter and keypad Enter press it when it
// has the focus, like Space, without it being a default button.
class PushButton : public QPushButton {
  public:
    using QPushButton::QPushButton;

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
            (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            click();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

// A named push button at a fixed place; no button of the program is a default button.
inline QPushButton* PlaceButton(const Twips& twips, QWidget* parent, const char* name,
                                const char* caption, int left, int top, int width, int height) {
    auto* b = new PushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(QString::fromUtf8(name));
    b->setAutoDefault(false);
    b->setDefault(false);
    twips.Place(b, left, top, width, height);
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
