// The main window: the links box and the three buttons. It owns the run options and runs the
// batches.
#pragma once

#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "batch/batch.h"
#include "core/run_options.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace velindra {

class ProgressWaiter;

// How many links a batch fetches from the web at once ahead of the one it is at; how many
// fetched files wait for their turn is the batch's own bound (Services::aheadWindow).
inline constexpr int kAheadWorkers = 8;

// What the windows reach outside themselves; the program passes the real ones, tests their
// stand-ins.
struct Outside {
    SettingsStore& settings;
    Downloader& downloader;
    FileCommitter& committer;
    Launcher& launcher;
    // The Save-as dialog and the folder picker, with the result contract of the CD module.
    std::function<bool(QWidget*, std::string&, const SaveDialogRequest&)> saveDialog;
    std::function<bool(QWidget*, std::string&)> browseForFolder;
    // Makes the source asked when every mirror has failed, once per batch; none when empty.
    std::function<std::unique_ptr<Downloader>()> makeNetworkSource = {};
    // Where files that go through the Save-as dialog wait, fetched ahead, until it has said
    // where; none keeps such links from being fetched before their turn.
    std::function<std::string()> stagingFolder = {};
    // The save folder made as a batch starts, and whether its file system ignores case; none
    // leaves the folder as it is and compares names by the system's custom.
    std::function<bool(const std::string&)> makeFolder = {};
    std::function<bool(const std::string&)> folderIgnoresCase = {};
};

class Form1 : public QWidget {
    Q_OBJECT
  public:
    explicit Form1(Outside outside);
    ~Form1() override;

    QLabel* Label1;
    QPlainTextEdit* Text1;
    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    // selection, basePath, showErr and usedn, loaded as each batch starts.
    RunOptions options;

    Outside& outside() { return outside_; }
    bool batchRunning() const { return batchRunning_; }
    ProgressWaiter& progress() { return *progress_; }

    // Links handed over on the command line or by a later start: each goes on a line of its
    // own at the end of the links box, the window comes to the front with the focus on
    // "获取种子", and nothing is fetched until the user says so. During a batch they wait
    // and are added when it ends.
    void AppendLinks(const QStringList& links);

    void Command1_Click();  // 获取种子
    void Command2_Click();  // 程序设置
    void Command3_Click();  // 清空框框

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The links box's tooltip and accessible description: how many links it holds and the
    // names their files will have, made again a moment after the text last changed.
    void DescribeLinks();

    Outside outside_;
    QTimer* describe_;
    QStringList waiting_;
    // The text of the last batch, when it ran to its end: a link handed over while the box
    // still holds exactly that replaces it, so that Enter fetches the new link alone.
    std::optional<QString> lastBatch_;
    std::unique_ptr<ProgressWaiter> progress_;
    bool batchRunning_ = false;
    std::atomic<bool> stop_{false};  // the running batch is to stop
    bool closeAfterBatch_ = false;
};

}  // namespace velindra
