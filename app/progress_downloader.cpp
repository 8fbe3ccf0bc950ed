#include "progress_downloader.h"

#include <QEventLoop>
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
    setFixedSize(Px(5400), Px(1500));
    label = new QLabel(this);
    label->setObjectName(QStringLiteral("Label1"));
    Place(label, 240, 240, 4920, 495);
    label->setWordWrap(true);
    cancelButton = PlaceButton(this, "Command1", QStringLiteral("取消"), 3840, 900, 1335, 375);
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
    const auto describe = [&] {
        if (request.network()) {
            return QStringLiteral("正在从 BitTorrent 网络获取种子信息，已连接 %1 个节点")
                .arg(peers.load());
        }
        return QStringLiteral("正在从镜像 %1 获取种子：%2")
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
