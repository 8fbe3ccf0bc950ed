#include "app/progress_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "app/app_texts.h"
#include "app/twips.h"
#include "core/words.h"
#include "platform/url.h"

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
    if (what.position.link == 0 && what.position.links > 0)  // the links still being read
        return QString::fromUtf8(texts::kProgressReading).arg(what.position.links);
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
        // Put away for good: a key or click that still reaches it (one queued as it went, or
        // sent while another window's event loop runs) finds nothing to press.
        QObject::disconnect(window_, nullptr, nullptr, nullptr);
        window_->setEnabled(false);
        window_->hide();
        window_->deleteLater();
        window_ = nullptr;
    }
}

void ProgressWaiter::Show(const WaitingFor& what) {
    if (!window_) {
        ProgressWindow* shown = new ProgressWindow(owner_);
        window_ = shown;
        // It takes the keyboard once, as it first appears after the user started the batch, so
        // that Escape is 取消 wherever the window manager leaves the focus; and only while this
        // program is the one the user works in. Coming back later (after a dialog, or files
        // opened) it never takes the keyboard from another program.
        const bool takeKeyboard = !tookKeyboard_ && QApplication::activeWindow() != nullptr;
        shown->setAttribute(Qt::WA_ShowWithoutActivating, !takeKeyboard);
        shown->show();
        if (takeKeyboard) {
            tookKeyboard_ = true;
            shown->activateWindow();
            shown->cancelButton->setFocus();
        } else {
            shown->cancelButton->setFocusPolicy(Qt::NoFocus);
        }
        QObject::connect(shown, &ProgressWindow::cancelRequested, shown, [this, shown] {
            stop_ = true;  // every fetch of the batch, and the batch
            shown->cancelButton->setEnabled(false);
        });
    }
    window_->SetText(ProgressText(what, *window_->label));
    window_->cancelButton->setEnabled(!stop_);
}

void ProgressWaiter::WaitFor(const std::function<bool()>& ready, const WaitingFor& what) {
    if (ready()) {
        // Links that are ready at their turn (failed at once, offline, or kept) still let the
        // windows paint and take 取消 every few dozen milliseconds, however many there are.
        if (batch_.elapsed() >= delayMs_ &&
            (!sinceEvents_.isValid() || sinceEvents_.elapsed() >= kEventsEveryMs)) {
            Show(what);
            QCoreApplication::processEvents();
            sinceEvents_.start();
        }
        return;
    }
    QEventLoop loop;
    const auto showWindow = [&] { Show(what); };
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
            window_->SetText(ProgressText(what, *window_->label));
    });
    refresh.start(250);
    while (!ready() && !stop_)
        loop.exec();
    sinceEvents_.start();
}

}  // namespace velindra
