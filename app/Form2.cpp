#include "app/Form2.h"

#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "app/app_texts.h"
#include "app/twips.h"
#include "core/run_options.h"

namespace velindra {

Form2::Form2(QWidget* owner, RunOptions& options, SettingsStore& settings)
    : QDialog(owner), options_(options), settings_(settings) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QString::fromUtf8(texts::kPromptTitle));
    setWindowIcon(QIcon());  // no icon of its own
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    const Twips twips(this);
    resize(twips.Size(5700, 2250));
    setSizeGripEnabled(false);

    Label1 = new QLabel(QString::fromUtf8(texts::kPromptSaved), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    twips.Place(Label1, 480, 360, 4575, 495);

    Check1 = new QCheckBox(QString::fromUtf8(texts::kPromptRemember), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    twips.Place(Check1, 480, 1080, 2655, 255);

    Command1 = PlaceButton(twips, this, "Command1", texts::kOpen, 480, 1560, 1095, 375);
    Command2 = PlaceButton(twips, this, "Command2", texts::kReveal, 1920, 1560, 1695, 375);
    Command3 = PlaceButton(twips, this, "Command3", texts::kNothing, 3960, 1560, 1335, 375);

    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
    setTabOrder(Command3, Check1);

    connect(Command1, &QPushButton::clicked, this, [this] { Answer(FinishAction::Open); });
    connect(Command2, &QPushButton::clicked, this, [this] { Answer(FinishAction::Reveal); });
    connect(Command3, &QPushButton::clicked, this, [this] { Answer(FinishAction::Nothing); });
}

void Form2::Answer(FinishAction action) {
    options_.selection = action;
    if (Check1->isChecked()) {
        settings_.Write(keys::kOnFinish, StoredText(action));
    }
    accept();
}

void Form2::ShowModal() {
    CentreOver(this);  // on the screen, not on the owner
    Command1->setFocus();
    exec();
}

}  // namespace velindra
