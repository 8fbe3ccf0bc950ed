#include "Form2.h"

#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "settings_keys.h"
#include "twips.h"

namespace velindra {

Form2::Form2(QWidget* owner, RunOptions& options, SettingsStore& settings)
    : QDialog(owner), options_(options), settings_(settings) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("恭喜恭喜"));
    setWindowIcon(QIcon());  // no icon of its own
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    const Twips twips(this);
    resize(twips.Size(5700, 2250));
    setSizeGripEnabled(false);

    Label1 = new QLabel(QStringLiteral("种子获取成功"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    twips.Place(Label1, 480, 360, 4575, 495);

    Check1 = new QCheckBox(QStringLiteral("以后自动使用同样操作"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    twips.Place(Check1, 480, 1080, 2655, 255);

    Command1 = PlaceButton(twips, this, "Command1", QStringLiteral("打开"), 480, 1560, 1095, 375);
    Command2 = PlaceButton(twips, this, "Command2", QStringLiteral("打开所在文件夹"), 1920, 1560,
                           1695, 375);
    Command3 =
        PlaceButton(twips, this, "Command3", QStringLiteral("什么都不做"), 3960, 1560, 1335, 375);

    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
    setTabOrder(Command3, Check1);

    connect(Command1, &QPushButton::clicked, this, [this] { Answer(values::kOpen); });
    connect(Command2, &QPushButton::clicked, this, [this] { Answer(values::kReveal); });
    connect(Command3, &QPushButton::clicked, this, [this] { Answer(values::kNothing); });
}

void Form2::Answer(const char* value) {
    options_.selection = value;
    if (Check1->isChecked()) {
        settings_.Write(keys::kOnFinish, value);
    }
    accept();
}

void Form2::ShowModal() {
    CentreOver(this);  // on the screen, not on the owner
    Command1->setFocus();
    exec();
}

}  // namespace velindra
