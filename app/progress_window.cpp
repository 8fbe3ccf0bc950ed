#include "progress_window.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "app_texts.h"
#include "twips.h"
#include "url.h"
#include "words.h"

namespace velindra {

ProgressWindow::ProgressWindow(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("ProgressWindow"));
    setWindowTitle(QString::fromUtf8(texts::kAppTitle));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    const Twips twips(this);
    setFixedSize(twips.Size(5400, 1500));
    label = new QLabel(this);
    label->setObjectName(QStringLiteral("Label1"));
    twips.Place(label, 240, 240, 4920, 495);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);  // names and hosts from a link are never markup
    cancelButton = PlaceButton(twips, this, "Command1", texts::kCancel, 3840, 900, 1335, 375);
    connect(cancelButton, &QPushButton::clicked, this, &ProgressWindow::cancelRequested);
    // Not modal: the main window takes no input during a batch anyway (its event filter), and a
    // modal window would make the toolkit drop the system's request to close the main window,
    // which stops the batch.
    setWindowModality(Qt::NonModal);
}

void ProgressWindow::SetText(const QString& text) {
    label->setText(text);
}

void ProgressWindow::reject() {
    emit cancelRequested();
}

namespace {

// Which link, by its file name, and which source is being asked. The file name takes what is
// left of its line in the label, shortened in the middle if need be.
QString ProgressText(const WaitingFor& what, const QLabel& label) {
    const QString file = QString::fromStdString(what.fileName);
    const QString counted = what.position.links > 0 ? QString::fromUtf8(texts::kProgressCounted)
                                                          .arg(what.position.link)
                                                          .arg(what.position.links)
                                                    : QString::fromUtf8(texts::kProgressOne);
    const QFontMetrics metrics = label.fontMetrics();
    const int room = label.width() - metrics.horizontalAdvance(counted);
    const QString which =
        counted + metrics.elidedText(file, Qt::ElideMiddle, room) + QLatin1Char('\n');
    const Activity::Now now = what.activity ? what.activity->Read() : Activity::Now{};
    // Only the host is named, in its ASCII form: never the address as the link wrote it.
    const std::string where = Url(now.url).Host();
    const std::string said =
        Fill(RowOf(now.source).sentence,
             {std::to_string(std::max(now.index, 1)), where, std::to_string(now.peers)});
    return which + QString::fromStdString(said);
}

}  // namespace

ProgressWaiter::ProgressWaiter(QWidget* owner, std::atomic<bool>& stop, int delayMs)
    : owner_(owner), stop_(stop), delayMs_(delayMs) {
    batch_.start();
}

ProgressWaiter::~ProgressWaiter() {
    HideProgress();
}

void ProgressWaiter::HideProgress() {
    if (window_) {
        window_->hide();
        window_->deleteLater();
        window_ = nullptr;
    }
}

void ProgressWaiter::WaitFor(const std::function<bool()>& ready, const WaitingFor& what) {
    if (ready())
        return;
    QEventLoop loop;
    const auto describe = [&] { return ProgressText(what, *window_->label); };
    const auto showWindow = [&] {
        if (!window_) {
            window_ = new ProgressWindow(owner_);
            window_->show();
            // It takes the keyboard as it appears, so that Escape is 取消 wherever the window
            // manager leaves the focus.
            window_->activateWindow();
            window_->cancelButton->setFocus();
            QObject::connect(window_, &ProgressWindow::cancelRequested, window_, [this] {
                stop_ = true;  // every fetch of the batch, and the batch
                window_->cancelButton->setEnabled(false);
            });
        }
        window_->SetText(describe());
        window_->cancelButton->setEnabled(!stop_);
    };
    QTimer delay;
    delay.setSingleShot(true);
    const qint64 waited = batch_.elapsed();
    if (window_ || waited >= delayMs_) {
        showWindow();  // up already, or the batch has run long enough
    } else {
        QObject::connect(&delay, &QTimer::timeout, &loop, showWindow);
        delay.start(static_cast<int>(delayMs_ - waited));
    }
    // The work runs on other threads; it is looked at often, and very often at first: most
    // waits (a file put in place, a link fetched ahead) end within a few milliseconds.
    QTimer poll;
    QElapsedTimer since;
    since.start();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (ready() || stop_)
            loop.quit();
        else if (poll.interval() < 10 && since.elapsed() > 100)
            poll.setInterval(10);
    });
    poll.start(1);
    QTimer refresh;  // the source and the peer count change while the link is fetched
    QObject::connect(&refresh, &QTimer::timeout, &loop, [&] {
        if (window_)
            window_->SetText(describe());
    });
    refresh.start(250);
    while (!ready() && !stop_)
        loop.exec();
}

}  // namespace velindra
