#pragma once
// TFormSerSet, "Server Settings": groups, each group's datafile, counts, hours and users, the
// port and network switches, and the language. Modeless; the logic is config::SettingsModel.
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
#include <string>

#include "config/settings_model.h"
#include "desktop/dialog_services.h"
#include "state/catalogue.h"

namespace qv::desktop {

class TFormSerSet final : public QDialog {
 public:
  // Loads iniPath (writing the default file when it is missing) and sets liveNoDelay from
  // TCPNoDelay. A failed load is reported once the dialog runs.
  TFormSerSet(std::string iniPath, const Catalogue& texts, DialogServices& services,
              bool& liveNoDelay, QWidget* parent = nullptr);

  const config::SettingsModel& Model() const { return model_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildWidgets();
  void SetCaptions();
  void Connect();
  void InstallFilters();
  // Puts the model's state into the widgets, without raising their change signals.
  void ShowModel();
  void ShowGrid();
  void AddUser();
  void ChooseDatafile();
  void OpenStructure();
  QString Msg(MsgId id) const;

  config::SettingsModel model_;
  const Catalogue& texts_;
  DialogServices& services_;
  std::string datafileToOpen_;

  QGroupBox* label19_;
  QPushButton* button1_;
  QPushButton* button2_;
  QLineEdit* edit1_;
  QComboBox* comboBox1_;
  QFrame* panel1_;
  QLabel* label2_;
  QLineEdit* edit3_;
  QPushButton* button3_;
  QLabel* label9_;
  QLineEdit* edit4_;
  QLabel* label3_;
  QLineEdit* edit7_;
  QLabel* label4_;
  QLineEdit* edit5_;
  QLabel* label5_;
  QLineEdit* edit6_;
  QLabel* label6_;
  QListWidget* listBox1_;
  QCheckBox* checkBox6_;
  QPushButton* button6_;
  QLabel* label7_;
  QPushButton* button5_;
  QPushButton* button4_;
  QLabel* label12_;
  QLineEdit* edit2_;
  QLabel* label14_;
  QLineEdit* edit9_;
  QTableWidget* sgUsers_;
  QGroupBox* label15_;
  QListWidget* listBox2_;
  QGroupBox* label8_;
  QLabel* label1_;
  QLineEdit* edit17_;
  QLabel* lbPort2_;
  QCheckBox* checkBox1_;
  QCheckBox* cbTCPNoDelay_;
};

}  // namespace qv::desktop
