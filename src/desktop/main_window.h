#pragma once
// TFormQVServer: the log view (newest line first), the connection count, the Settings button
// and the tray's popup menu. Closing it ends the server.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>

#include "state/log.h"

namespace qv::desktop {

// The log view: a read-only text whose first line is the newest.
class LogsView final : public state::LogView {
 public:
  explicit LogsView(QPlainTextEdit& edit) : edit_(edit) {}
  int LineCount() const override;
  bool DeleteLastLine() override;
  void BeginUpdate() override;
  void EndUpdate() override;
  void InsertAtTop(const std::string& text) override;

 private:
  QPlainTextEdit& edit_;
};

class TFormQVServer final : public QWidget {
 public:
  static constexpr int kDesignWidth = 497;
  static constexpr int kDesignHeight = 301;
  static constexpr int kPanelWidth = 97;

  TFormQVServer();

  state::LogView& View() { return view_; }
  QPlainTextEdit& Logs() { return *logs_; }
  QLabel& Label1() { return *label1_; }
  QPushButton& Button1() { return *button1_; }
  QMenu& PMServer() { return *pmServer_; }
  QAction& Show1() { return *show1_; }

  void SetOnSettings(std::function<void()> handler) { onSettings_ = std::move(handler); }
  // Runs once when the window closes (the server is then shut down).
  void SetOnClose(std::function<void()> handler) { onClose_ = std::move(handler); }
  // The screen's pixels per inch divided by 96.
  static double ScreenScale(const QWidget& widget);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void ToggleShown();

  QPlainTextEdit* logs_;
  QLabel* label1_;
  QPushButton* button1_;
  QMenu* pmServer_;
  QAction* show1_;
  LogsView view_;
  std::function<void()> onSettings_;
  std::function<void()> onClose_;
};

}  // namespace qv::desktop
