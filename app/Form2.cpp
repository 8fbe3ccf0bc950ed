#include "Form2.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

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
    resize(Px(5700), Px(2250));
    setSizeGripEnabled(false);

    Label1 = new QLabel(QStringLiteral("种子获取成功"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Place(Label1, 480, 360, 4575, 495);

    Check1 = new QCheckBox(QStringLiteral("以后自动使用同样操作"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    Place(Check1, 480, 1080, 2655, 255);

    const auto button = [this](const char* name, const char* caption, int left, int width) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromUtf8(name));
        b->setAutoDefault(false);
        b->setDefault(false);
        Place(b, left, 1560, width, 375);
        return b;
    };
    Command1 = button("Command1", "打开", 480, 1095);
    Command2 = button("Command2", "打开所在文件夹", 1920, 1695);
    Command3 = button("Command3", "什么都不做", 3960, 1335);

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
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    Command1->setFocus();
    exec();
}

}  // namespace velindra
