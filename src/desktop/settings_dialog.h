#pragma once
// TFormSerSet, "Server Settings": groups, each group's datafile, counts, hours and users, the
// port and network switches, and the language. Modeless; the logic is config::SettingsModel.
// The widgets keep their designer names as object names (Button1, Edit4, SGUsers, ...).
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QWidget>
#include <functional>
#include <string>

#include "config/settings_model.h"
#include "desktop/dialog_services.h"
#include "state/catalogue.h"

namespace qv::desktop {

class TFormSerSet final : public QDialog {
 public:
  // Loads iniPath (writing the default file when it is missing) and sets liveNoDelay from
  // TCPNoDelay. A failed load is reported once the dialog runs.
  TFormSerSet(std::string iniPath, const state::Catalogue& texts, DialogServices& services,
              bool& liveNoDelay, QWidget* parent = nullptr);

  const config::SettingsModel& Model() const { return model_; }
  // Edits that closing would offer to save.
  bool HasUnsavedEdits() const;
  // The program stops: the next close asks nothing and saves nothing.
  void DropEditsOnClose() { dropEdits_ = true; }
  // Handed to the DB Structure dialog (TFormBrowser::SetBeforeRewrite).
  void SetBeforeRestructure(std::function<void(const std::string&)> before) {
    beforeRestructure_ = std::move(before);
  }
  // Where the DB Structure dialog logs what it did (TFormBrowser::SetLog).
  void SetLog(std::function<void(const std::string&)> log) { log_ = std::move(log); }

  // Escape closes the dialog the same way as its close button: "Save Changes?" first.
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildWidgets();
  QGroupBox* BuildGroupsBox();
  QFrame* BuildGroupPanel(QWidget* parent);
  QWidget* BuildUsersArea();
  QGroupBox* BuildLanguageBox();
  QGroupBox* BuildNetworkBox();
  void SetTabOrder();
  void SetCaptions();
  void Connect();
  void InstallFilters();
  // Puts the model's state into the widgets, without raising their change signals.
  void ShowModel();
  void ShowGrid();
  void AddUser();
  void ChooseDatafile();
  void OpenStructure();
  QString Msg(wire::MsgId id) const;
  QString Port2Text() const;
  QString ProblemText(const config::SettingsCheck& check) const;
  void ShowProblem(const config::SettingsCheck& check);

  config::SettingsModel model_;
  const state::Catalogue& texts_;
  DialogServices& services_;
  std::function<void(const std::string&)> beforeRestructure_;
  std::function<void(const std::string&)> log_;
  bool dropEdits_ = false;

  // Groups (left column).
  QGroupBox* groupsBox_;            // Label19
  QPushButton* removeGroupButton_;  // Button2
  QPushButton* addGroupButton_;     // Button1
  QLineEdit* newGroupEdit_;         // Edit1
  QComboBox* groupList_;            // ComboBox1
  QFrame* groupPanel_;              // Panel1: the fields of the current group
  QLabel* datafileLabel_;           // Label2
  QLineEdit* datafileEdit_;         // Edit3
  QPushButton* browseButton_;       // Button3
  QLabel* countLabel_;              // Label9
  QLineEdit* countEdit_;            // Edit4
  QLabel* countArcLabel_;           // Label3
  QLineEdit* countArcEdit_;         // Edit7
  QLabel* timeBeginLabel_;          // Label4
  QLineEdit* timeBeginEdit_;        // Edit5
  QLabel* timeEndLabel_;            // Label5
  QLineEdit* timeEndEdit_;          // Edit6
  QLabel* stepLabel_;               // Label6
  QListWidget* stepList_;           // ListBox1
  QCheckBox* archiveLinkBox_;       // CheckBox6
  QPushButton* structureButton_;    // Button6
  // Users of the current group (right column).
  QWidget* usersArea_;
  QLabel* usersLabel_;             // Label7
  QPushButton* removeUserButton_;  // Button5
  QPushButton* addUserButton_;     // Button4
  QLabel* userNameLabel_;          // Label12
  QLineEdit* userNameEdit_;        // Edit2
  QLabel* hostLabel_;              // Label14
  QLineEdit* hostEdit_;            // Edit9
  QTableWidget* usersGrid_;        // SGUsers
  // Language and network (bottom left).
  QGroupBox* languageBox_;     // Label15
  QListWidget* languageList_;  // ListBox2
  QGroupBox* networkBox_;      // Label8
  QLabel* portLabel_;          // Label1
  QLineEdit* portEdit_;        // Edit17
  QLabel* port2Label_;         // lbPort2
  QCheckBox* directSendBox_;   // CheckBox1
  QCheckBox* noDelayBox_;      // cbTCPNoDelay
  QLabel* feedPortLabel_;      // HTTP feed ([Feed] Port and Address)
  QLineEdit* feedPortEdit_;
  QLabel* feedAddressLabel_;
  QLineEdit* feedAddressEdit_;
};

}  // namespace qv::desktop
