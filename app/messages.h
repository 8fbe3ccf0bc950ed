#pragma once

#include <QAbstractButton>
#include <QIcon>
#include <QMessageBox>
#include <QString>

#include "interfaces.h"
#include "texts.h"

namespace velindra {

// A message box with an OK button only, no icon, and the title "Velindra".
inline void ShowMessageBox(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(texts::kAppTitle), text, QMessageBox::Ok,
                    owner);
    box.setObjectName(QStringLiteral("MessageBox"));
    if (QAbstractButton* ok = box.button(QMessageBox::Ok)) {
        ok->setText(QString::fromUtf8(texts::kOk));
        ok->setIcon(QIcon());
    }
    box.exec();
}

}  // namespace velindra
