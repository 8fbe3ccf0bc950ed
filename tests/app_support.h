// What the window tests share: answering modal windows, links, the recorded outside, and
// starting the real program.
#pragma once

#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>
#include <functional>
#include <string>
#include <vector>

#include "app/Form1.h"
#include "tests/fakes.h"
#include "tests/test_support.h"

// Failures show texts as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace velindra {

using testing::Events;
using testing::Hash;
using Names = std::vector<QString>;

// Runs `act` on the next modal window, from inside that window's own event loop.
inline void OnNextModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer(qApp);  // owned by the application if no modal ever comes
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        QWidget* modal = QApplication::activeModalWidget();
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (!modal && top->objectName() == "ProgressWindow" && top->isVisible())
                modal = top;  // the progress window, which keeps no other window from input
        }
        if (modal && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            act(modal);
        }
    });
    timer->start(10);
}

// Answers every message box of `run` in turn, recording texts; checks their shape on the way.
inline Names Messages(const std::function<void()>& run) {
    Names seen;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen.push_back(box->text());
            EXPECT_EQ(box->windowTitle(), "Velindra");
            EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
            // With "停止" while more links are to come; "确定", continuing, stays the default.
            EXPECT_LE(box->buttons().size(), 2);
            if (box->buttons().size() == 2) {
                EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Ok));
            }
            box->button(QMessageBox::Ok)->click();
        }
    });
    watch.start(5);
    run();
    return seen;
}

inline QString Link(const std::string& hash, const std::string& rest = "&x") {
    return QString::fromStdString("magnet:?xt=urn:btih:" + hash + rest);
}

// The windows' outside, all of it recorded by the world.
inline Outside Wire(testing::World& w) {
    const auto saveAs = [&w](QWidget*, std::string& name, const SaveDialogRequest& r) {
        return w.ShowSaveDialog(name, r);
    };
    return Outside{w.settings, w, w, w, saveAs, nullptr};
}

// Runs the event loop until `done` holds or `ms` have passed; whether it holds. The loop runs
// all the time, not in passes between sleeps: a server takes one connection per pass.
template <typename Done>
bool RunEventsUntil(Done done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() >= ms)
            return false;
        QTest::qWait(10);
    }
    return true;
}

// A program of the build, as this system names it.
inline QString ProgramPath(const char* path) {
    return QString::fromStdString(testing::ProgramPath(path));
}

// Runs a program to its end, the event loop running meanwhile (a window of the test may be
// what it talks to); its exit code, or -1 when it did not end within `waitMs`.
inline int RunToEnd(const QString& program, const QStringList& arguments, int waitMs = 20000) {
    QProcess p;
    p.start(program, arguments);
    RunEventsUntil([&] { return p.state() == QProcess::NotRunning; }, waitMs);
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Starts the real window program with these arguments and waits until it ends.
inline int RunLaterStart(const QStringList& arguments, int waitMs = 20000) {
    return RunToEnd(ProgramPath(VELINDRA_APP_PATH), arguments, waitMs);
}

}  // namespace velindra
