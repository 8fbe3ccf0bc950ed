#pragma once

#include <QAbstractButton>
#include <QFontMetrics>
#include <QGridLayout>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <QString>

#include "app/app_texts.h"
#include "core/interfaces.h"

namespace velindra {

// A box of the program's: no icon, the title "Velindra", its text as plain text, and wide
// enough that the title bar shows the title whole beside its buttons, however short the text.
inline void PrepareBox(QMessageBox& box) {
    box.setObjectName(QStringLiteral("MessageBox"));
    box.setTextFormat(Qt::PlainText);
    const QFontMetrics metrics = box.fontMetrics();
    const int titleBar = metrics.horizontalAdvance(box.windowTitle()) + 8 * metrics.height();
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(titleBar, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

// A message box with an OK button only, no icon, and the title "Velindra". Its text is shown
// as the plain text it is: names and reasons from outside are never read as markup.
inline void ShowMessageBox(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(texts::kAppTitle), text, QMessageBox::Ok,
                    owner);
    PrepareBox(box);
    if (QAbstractButton* ok = box.button(QMessageBox::Ok)) {
        ok->setText(QString::fromUtf8(texts::kOk));
        ok->setIcon(QIcon());
    }
    box.exec();
}

// The same box for a link's failure while more links are to come, with a second button that
// stops the batch; "确定" stays the default. True when the user chose to stop.
inline bool ShowFailureBox(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(texts::kAppTitle), text, QMessageBox::Ok,
                    owner);
    PrepareBox(box);
    QAbstractButton* ok = box.button(QMessageBox::Ok);
    ok->setText(QString::fromUtf8(texts::kOk));
    ok->setIcon(QIcon());
    QPushButton* stop =
        box.addButton(QString::fromUtf8(texts::kStopBatch), QMessageBox::RejectRole);
    box.setDefaultButton(qobject_cast<QPushButton*>(ok));
    box.setEscapeButton(ok);  // Escape continues, as the only button would
    box.exec();
    return box.clickedButton() == stop;
}

}  // namespace velindra
