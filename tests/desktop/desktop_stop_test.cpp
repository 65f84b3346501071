// SIGTERM (and the session's quit request) while dialogs are open: the desktop program, run as
// a child process of this test program (RunDesktopProgram, as quorvane-server's main runs it),
// closes every dialog and box without a question, drops unsaved edits, logs that once and
// exits with status 0 within 5 s. The child opens the dialogs itself and says "READY" once
// the scene is set.
#include "desktop_stop_test.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>

#include "desktop/desktop_program.h"
#include "desktop/language_dialog.h"
#include "desktop/structure_dialog.h"
#include "support/child_exit.h"
#include "support/test_server.h"

extern char** environ;

namespace qv::desktop {
namespace {

constexpr char kDroppedLine[] = "Stop: open dialogs closed, their unsaved changes dropped.";

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void SayReady() {
  std::fputs("READY\n", stdout);
  std::fflush(stdout);
}

// Calls done() once check() holds, polling on the GUI thread (inside whatever loop runs).
void When(std::function<bool()> check, std::function<void()> done) {
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, check, done] {
    if (!check()) return;
    timer->stop();
    timer->deleteLater();
    done();
  });
  timer->start(20);
}

bool MessageBoxOpen() {
  return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr;
}

void EditPort(TFormSerSet& settings) {
  auto* port = settings.findChild<QLineEdit*>(QStringLiteral("Edit17"));
  QTest::keyClick(port, Qt::Key_End);
  QTest::keyClick(port, Qt::Key_Backspace);  // a port keeps its number of digits
  QTest::keyClicks(port, "1");
}

// Sets the scene of one scenario once the program's loop runs.
void SetScene(DesktopApp& app, const std::string& scenario) {
  if (scenario == "port-taken") {
    // Another process holds the port: start-up fails and the error box waits for the operator.
    When(MessageBoxOpen, SayReady);
    return;
  }
  if (scenario == "first-run") {
    // No Server.ini: start-up asks for the language before the main loop runs.
    When([] { return dynamic_cast<LanguageDialog*>(QApplication::activeModalWidget()) != nullptr; },
         SayReady);
    return;
  }
  QTimer::singleShot(300, qApp, [&app, scenario] {
    app.OpenSettings();
    TFormSerSet& settings = *app.Settings();
    if (scenario == "edits") {
      EditPort(settings);
      SayReady();
    } else if (scenario == "save-question" || scenario == "logout") {
      EditPort(settings);
      When(MessageBoxOpen, [scenario] {
        SayReady();
        if (scenario == "logout") {
          QEvent quit(QEvent::Quit);  // what the session manager's "die" sends
          QApplication::sendEvent(qApp, &quit);
        }
      });
      settings.close();  // asks "Save Changes?" and waits for the answer
    } else if (scenario == "warning") {
      // A user name that exists: the warning box runs inside the settings dialog's code.
      settings.findChild<QLineEdit*>(QStringLiteral("Edit2"))->setText(QStringLiteral("Anna"));
      settings.findChild<QLineEdit*>(QStringLiteral("Edit9"))->setText(QStringLiteral("pc9"));
      When(MessageBoxOpen, SayReady);
      settings.findChild<QPushButton*>(QStringLiteral("Button4"))->click();
    } else if (scenario == "structure") {
      When([] { return dynamic_cast<TFormBrowser*>(QApplication::activeModalWidget()) != nullptr; },
           [] {
             auto* browser = dynamic_cast<TFormBrowser*>(QApplication::activeModalWidget());
             browser->Label4().setDate(browser->Label4().date().addDays(-1));  // not applied
             if (browser->HasUnsavedEdits()) SayReady();
           });
      auto* structure = settings.findChild<QPushButton*>(QStringLiteral("Button6"));
      structure->click();
    }
  });
}

class StopChild {
 public:
  StopChild(const std::string& scenario, const std::string& dir) {
    out_ = dir + "/child.out";
    err_ = dir + "/child.err";
    const std::string self = "/proc/self/exe";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string exe(4096, '\0');
    const ssize_t n = ::readlink(self.c_str(), exe.data(), exe.size() - 1);
    exe.resize(n > 0 ? static_cast<size_t>(n) : 0);
    const std::string flag = kStopChildFlag;
    char* argv[] = {exe.data(), const_cast<char*>(flag.c_str()),
                    const_cast<char*>(scenario.c_str()), const_cast<char*>(dir.c_str()), nullptr};
    if (posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~StopChild() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  bool Started() const { return pid_ > 0; }
  std::string Out() const { return ReadText(out_); }
  std::string Err() const { return ReadText(err_); }

  bool WaitReady(std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Out().find("READY") != std::string::npos) return true;
      if (WaitExit(std::chrono::milliseconds(20))) break;
    }
    return Out().find("READY") != std::string::npos;
  }
  // The raw wait status once the child has ended within the limit.
  std::optional<int> WaitExit(std::chrono::milliseconds limit) {
    return test::WaitChildExit(pid_, status_, limit);
  }
  void Terminate() const { ::kill(pid_, SIGTERM); }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
  std::string out_, err_;
};

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

struct Expectation {
  const char* scenario;
  bool signal;             // SIGTERM from here; otherwise the child asks to quit itself
  bool dropped;            // unsaved edits were open: the log says so once
  bool firstRun = false;   // no Server.ini: stopped in the language chooser of start-up
  bool portTaken = false;  // the listening port is held by another socket
};

// A listening socket on the port, held for the test.
class PortHolder {
 public:
  explicit PortHolder(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    listening_ = fd_ >= 0 &&
                 ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 ::listen(fd_, 1) == 0;
  }
  ~PortHolder() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Listening() const { return listening_; }

 private:
  int fd_;
  bool listening_ = false;
};

void PrintTo(const Expectation& e, std::ostream* out) {
  *out << e.scenario;
}

class DesktopStopTest : public ::testing::TestWithParam<Expectation> {};

TEST_P(DesktopStopTest, ExitsZeroWithinFiveSecondsAndSavesNothing) {
  const Expectation& e = GetParam();
  test::TempDir dir;
  test::IniConfig config;
  config.port = test::FreePortPair();
  config.groups = {{"pc7::Anna"}, {"pc9::Clara"}};
  std::string ini = test::IniText(config);
  ini.replace(ini.find("DEBUG=0"), 7, "DEBUG=1");
  ini.replace(ini.find("Name=\r\n"), 7, "Name=" + dir.Path() + "/g.qdb" + "\r\n");
  ini.replace(ini.find("CountArc=0"), 10, "CountArc=3");
  if (!e.firstRun) test::WriteFile(dir.Path() + "/Server.ini", ini);
  test::WriteFile(dir.Path() + "/g.qdb", "");  // start-up fills in its days
  std::optional<PortHolder> holder;
  if (e.portTaken) {
    holder.emplace(config.port);
    ASSERT_TRUE(holder->Listening());
  }

  StopChild child(e.scenario, dir.Path());
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitReady(std::chrono::seconds(30))) << child.Out() << child.Err();
  const std::string datafileBefore = ReadText(dir.Path() + "/g.qdb");
  const auto signalled = std::chrono::steady_clock::now();
  if (e.signal) child.Terminate();
  const std::optional<int> status = child.WaitExit(std::chrono::seconds(5));
  const auto took = std::chrono::steady_clock::now() - signalled;
  ASSERT_TRUE(status.has_value()) << "still running 5 s after the stop; " << child.Err();
  ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status) << "; " << child.Err();
  EXPECT_EQ(WEXITSTATUS(*status), e.portTaken ? 2 : 0) << child.Err();
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_EQ(child.Err().find("Sanitizer"), std::string::npos) << child.Err();
  EXPECT_EQ(child.Err().find("runtime error"), std::string::npos) << child.Err();

  if (e.firstRun) {
    // Nothing was chosen: no Server.ini, so the next start asks again.
    EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/Server.ini"));
    EXPECT_EQ(child.Err().find("quorvane-server:"), std::string::npos) << child.Err();
    return;
  }
  if (e.portTaken) {
    EXPECT_NE(child.Err().find("quorvane-server:"), std::string::npos) << child.Err();
    EXPECT_EQ(ReadText(dir.Path() + "/Server.ini"), ini);
    return;
  }
  // Nothing saved, the datafile untouched, the drop logged once (and only where edits were).
  EXPECT_EQ(ReadText(dir.Path() + "/Server.ini"), ini);
  EXPECT_EQ(ReadText(dir.Path() + "/g.qdb"), datafileBefore);
  const std::string log = ReadText(dir.Path() + "/debug.log");
  EXPECT_EQ(Count(log, kDroppedLine), e.dropped ? 1 : 0) << log;
  EXPECT_NE(log.find("Start!"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(UnderEveryDialog, DesktopStopTest,
                         ::testing::Values(Expectation{"save-question", true, true},
                                           Expectation{"warning", true, false},
                                           Expectation{"edits", true, true},
                                           Expectation{"structure", true, true},
                                           Expectation{"logout", false, true},
                                           Expectation{"first-run", true, false, true},
                                           Expectation{"port-taken", true, false, false, true}),
                         [](const ::testing::TestParamInfo<Expectation>& info) {
                           std::string name = info.param.scenario;
                           for (char& c : name) {
                             if (c == '-') c = '_';
                           }
                           return name;
                         });

}  // namespace

int RunStopChild(int signalFd, const std::string& scenario, const std::string& dir) {
  return RunDesktopProgram(signalFd, core::ServerLocation{dir, true},
                           [&scenario](DesktopApp& app) { SetScene(app, scenario); });
}

}  // namespace qv::desktop
