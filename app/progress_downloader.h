// Runs each download off the user-interface thread and keeps the windows painting meanwhile.
#pragma once

#include <QDialog>
#include <QPointer>
#include <atomic>

#include "interfaces.h"

class QLabel;
class QPushButton;

namespace velindra {

// A small modal window that says which mirror is being asked, with a "取消" button.
class ProgressWindow : public QDialog {
    Q_OBJECT
  public:
    explicit ProgressWindow(QWidget* owner);
    void SetText(const QString& text);
    QLabel* label;
    QPushButton* cancelButton;
  signals:
    void cancelRequested();

  protected:
    void reject() override;  // Escape or the close box count as 取消
};

// Wraps another downloader: each Fetch runs on a worker thread while the user-interface thread
// goes on painting. When a download has taken longer than `delayMs`, the progress window
// appears; it stays up while further mirrors of the same link are asked, and 取消 ends the
// current download with FetchError::Cancelled.
class ProgressDownloader : public Downloader {
  public:
    ProgressDownloader(Downloader& inner, QWidget* owner, int delayMs = 500);
    ~ProgressDownloader() override;

    FetchResult Fetch(const FetchRequest& request) override;
    // Takes the progress window down; called before any other window of the batch appears.
    void HideProgress();

    ProgressWindow* window() const { return window_; }

  private:
    Downloader& inner_;
    QWidget* owner_;
    int delayMs_;
    QPointer<ProgressWindow> window_;
    int shownLink_ = -1;  // the link the progress window is about
};

}  // namespace velindra
