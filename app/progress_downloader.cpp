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
    cancelButton =
        PlaceButton(twips, this, "Command1", QStringLiteral("取消"), 3840, 900, 1335, 375);
    connect(cancelButton, &QPushButton::clicked, this, &ProgressWindow::cancelRequested);
    setModal(true);
}

void ProgressWindow::SetText(const QString& text) {
    label->setText(text);
}

void ProgressWindow::reject() {
    emit cancelRequested();
}

ProgressDownloader::ProgressDownloader(Downloader& inner, QWidget* owner, int delayMs)
    : inner_(inner), owner_(owner), delayMs_(delayMs) {}

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
    if (request.mirror <= 1) {
        HideProgress();  // a new link starts quietly
    }
    const QString host = QUrl(QString::fromStdString(request.url)).host();
    std::atomic<int> peers{0};
    // Which link, by its file name, and which source is being asked.
    const QString file = QFileInfo(QString::fromStdString(request.destination)).fileName();
    const QString counted =
        request.links > 0
            ? QStringLiteral("正在获取第 %1/%2 个：").arg(request.link).arg(request.links)
            : QStringLiteral("正在获取：");
    const auto describe = [&] {
        // The file name takes what is left of its line, shortened in the middle if need be.
        const QFontMetrics metrics = window_->label->fontMetrics();
        const int room = window_->label->width() - metrics.horizontalAdvance(counted);
        const QString which =
            counted + metrics.elidedText(file, Qt::ElideMiddle, room) + QLatin1Char('\n');
        if (request.network()) {
            return which + QStringLiteral("正在从 BitTorrent 网络获取种子信息，已连接 %1 个节点")
                               .arg(peers.load());
        }
        return which + QStringLiteral("正在从镜像 %1 获取种子：%2")
                           .arg(request.mirror)
                           .arg(host.isEmpty() ? QString::fromStdString(request.url) : host);
    };

    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    FetchResult result;
    QEventLoop loop;
    FetchRequest job = request;
    job.cancel = &cancel;
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
        }
        window_->SetText(describe());
        window_->cancelButton->setEnabled(true);
        QObject::connect(window_, &ProgressWindow::cancelRequested, &loop, [&] {
            cancel = true;
            if (window_)
                window_->cancelButton->setEnabled(false);
        });
    };
    QTimer delay;
    delay.setSingleShot(true);
    if (window_) {
        showWindow();  // already up for an earlier mirror of this link
    } else {
        QObject::connect(&delay, &QTimer::timeout, &loop, showWindow);
        delay.start(delayMs_);
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
    if (window_) {
        window_->disconnect(&loop);
    }
    return result;
}

}  // namespace velindra
