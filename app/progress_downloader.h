// Runs each download off the user-interface thread and keeps the windows painting meanwhile.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
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

// Wraps another downloader for one batch: each Fetch runs on a worker thread while the
// user-interface thread goes on painting. Once the batch has run for `delayMs`, the progress
// window appears and stays up until the batch ends (it steps aside only while another window
// of the batch is up), so that 取消 can be pressed at any time: it sets `stop`, which ends the
// current download with FetchError::Cancelled and the batch after it.
class ProgressDownloader : public Downloader {
  public:
    ProgressDownloader(Downloader& inner, QWidget* owner, std::atomic<bool>& stop,
                       int delayMs = 500);
    ~ProgressDownloader() override;

    FetchResult Fetch(const FetchRequest& request) override;
    // Takes the progress window down; called before any other window of the batch appears.
    void HideProgress();

    ProgressWindow* window() const { return window_; }

  private:
    Downloader& inner_;
    QWidget* owner_;
    std::atomic<bool>& stop_;
    int delayMs_;
    QElapsedTimer batch_;  // since the batch began
    QPointer<ProgressWindow> window_;
};

}  // namespace velindra
