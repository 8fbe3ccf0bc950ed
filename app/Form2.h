// The completion prompt: what to do with a file that has just been fetched.
#pragma once

#include <QDialog>

#include "core/run_options.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace velindra {

class Form2 : public QDialog {
    Q_OBJECT
  public:
    // The answer goes into options.selection, and into the stored onFinish when Check1 is
    // ticked.
    Form2(QWidget* owner, RunOptions& options, SettingsStore& settings);

    // Shown modally over the owner, centred on the screen; returns when it has closed.
    void ShowModal();

    QLabel* Label1;
    QCheckBox* Check1;
    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;

  private:
    void Answer(FinishAction action);

    RunOptions& options_;
    SettingsStore& settings_;
};

}  // namespace velindra
