// The settings window: the four stored options as four groups of option buttons.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "core/run_options.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace velindra {

class Twips;

class Form3 : public QDialog {
    Q_OBJECT
  public:
    using BrowseFunction = std::function<bool(QWidget*, std::string&)>;

    // Loads the options from the store as the window opens.
    Form3(QWidget* owner, SettingsStore& settings, BrowseFunction browseForFolder);

    // Shown modally over the owner, centred on it; returns when it has closed.
    void ShowModal();

    QGroupBox *Frame1, *Frame2, *Frame3;
    QWidget *Picture1, *Picture2, *Picture3, *Picture4;
    QRadioButton *Option1, *Option2, *Option3, *Option4, *Option5, *Option6, *Option7, *Option8,
        *Option9, *Option10;
    QLineEdit* Text1;
    QLabel* Label1;
    QPushButton* Command1;
    QPushButton* Command2;

    // The folder text shown until the store names one: "F:\TDDownload" on Windows, the
    // user's download folder elsewhere.
    static QString DefaultSaveFolder();

    void Form_Load();
    void Command1_Click();  // 确定
    void Command2_Click();  // 浏览

  private:
    void MakeSaveGroup(const Twips& twips);
    void MakeErrorGroup(const Twips& twips);
    void MakeFinishGroup(const Twips& twips);
    // Checks the button of a setting's group that stands for its stored text.
    void LoadChoice(const Setting& setting);
    // The stored text of the button checked in a setting's group.
    std::string Chosen(const char* key) const;

    SettingsStore& settings_;
    BrowseFunction browse_;
};

}  // namespace velindra
