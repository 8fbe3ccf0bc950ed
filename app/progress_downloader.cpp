#include "progress_downloader.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <thread>

#include "texts.h"
#include "twips.h"

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
    cancelButton = PlaceButton(twips, this, "Command1", texts::kCancel, 3840, 900, 1335, 375);
    connect(cancelButton, &QPushButton::clicked, this, &ProgressWindow::cancelRequested);
    setModal(true);
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
QString ProgressText(const FetchRequest& request, int peers, const QLabel& label) {
    const QString file = QFileInfo(QString::fromStdString(request.destination)).fileName();
    const QString counted = request.position.links > 0 ? QString::fromUtf8(texts::kProgressCounted)
                                                             .arg(request.position.link)
                                                             .arg(request.position.links)
                                                       : QString::fromUtf8(texts::kProgressOne);
    const QFontMetrics metrics = label.fontMetrics();
    const int room = label.width() - metrics.horizontalAdvance(counted);
    const QString which =
        counted + metrics.elidedText(file, Qt::ElideMiddle, room) + QLatin1Char('\n');
    const QString host = QUrl(QString::fromStdString(request.url)).host();
    const QString where = host.isEmpty() ? QString::fromStdString(request.url) : host;
    switch (request.source) {
        case SourceKind::Network:
            return which + QString::fromUtf8(texts::kProgressNetwork).arg(peers);
        case SourceKind::LinkAddress:
            return which + QString::fromUtf8(texts::kProgressLinkAddress).arg(where);
        case SourceKind::Mirror:
            break;
    }
    return which + QString::fromUtf8(texts::kProgressMirror).arg(request.sourceIndex).arg(where);
}

}  // namespace

ProgressDownloader::ProgressDownloader(Downloader& inner, QWidget* owner, std::atomic<bool>& stop,
                                       int delayMs)
    : inner_(inner), owner_(owner), stop_(stop), delayMs_(delayMs) {
    batch_.start();
}

ProgressDownloader::~ProgressDownloader() {
    HideProgress();
}

void ProgressDownloader::HideProgress() {
    if (window_) {
        window_->hide();
        window_->deleteLater();
        window_ = nullptr;
    }
}

FetchResult ProgressDownloader::Fetch(const FetchRequest& request) {
    std::atomic<int> peers{0};
    const auto describe = [&] { return ProgressText(request, peers.load(), *window_->label); };
    std::atomic<bool> done{false};
    FetchResult result;
    QEventLoop loop;
    FetchRequest job = request;
    job.cancel = &stop_;
    job.peers = &peers;
    std::thread worker([&] {
        result = inner_.Fetch(job);
        done = true;
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });

    const auto showWindow = [&] {
        if (done)
            return;
        if (!window_) {
            window_ = new ProgressWindow(owner_);
            window_->show();
            QObject::connect(window_, &ProgressWindow::cancelRequested, window_, [this] {
                stop_ = true;  // this download, and the batch
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
    QTimer refresh;  // the peer count changes while the network is asked
    QObject::connect(&refresh, &QTimer::timeout, &loop, [&] {
        if (window_)
            window_->SetText(describe());
    });
    refresh.start(250);
    while (!done) {
        loop.exec();
    }
    worker.join();
    return result;
}

}  // namespace velindra
