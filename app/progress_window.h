// The progress window, and how a batch waits for its links while the windows keep painting.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <atomic>

#include "batch/batch.h"

class QLabel;
class QPushButton;

namespace velindra {

// A small window over the main one that says which link is being fetched and from where, with
// a "取消" button.
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

// Waits for one batch's work with the event loop running. Once the batch has run for
// `delayMs` and is still waiting, the progress window appears and stays up until the batch
// ends (it steps aside only while another window of the batch is up), so that 取消 can be
// pressed at any time: it sets `stop`, which ends every fetch of the batch.
class ProgressWaiter : public BatchWaiter {
  public:
    ProgressWaiter(QWidget* owner, std::atomic<bool>& stop, int delayMs = 500);
    ~ProgressWaiter() override;

    void WaitFor(const std::function<bool()>& ready, const WaitingFor& what) override;
    // Takes the progress window down; called before any other window of the batch appears.
    void HideProgress();

    ProgressWindow* window() const { return window_; }

  private:
    static constexpr int kEventsEveryMs = 30;
    void Show(const WaitingFor& what);  // the window up, saying what is waited for

    QWidget* owner_;
    std::atomic<bool>& stop_;
    int delayMs_;
    QElapsedTimer batch_;        // since the batch began
    QElapsedTimer sinceEvents_;  // since the windows last took their events
    QPointer<ProgressWindow> window_;
    bool tookKeyboard_ = false;  // the window takes the keyboard once a batch
};

}  // namespace velindra
