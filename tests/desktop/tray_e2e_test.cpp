// quorvane-server on a real X display with a tray (Xvfb and trayer): it starts, docks its icon
// in the tray, the tray menu's "Show" hides and shows the main window, and closing the main
// window ends the program with status 0.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "support/test_server.h"
#include "x11_session.h"

namespace qv::test {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class TrayE2eTest : public ::testing::Test {
 protected:
  std::optional<Window> MainWindow() const {
    for (Window window : x_->AllWindows()) {
      if (x_->Name(window) == "Quorvane Server" && x_->Class(window) == "quorvane-server" &&
          x_->Parent(window) == DefaultRootWindow(x_->Dpy())) {
        return window;
      }
    }
    return std::nullopt;
  }
  // Our program's window docked somewhere inside trayer's panel.
  std::optional<Window> DockedIcon() const {
    const std::optional<Window> panel = x_->TrayPanel();
    if (!panel) return std::nullopt;
    for (Window window : x_->AllWindows()) {
      if (x_->Class(window) == "quorvane-server" && x_->Inside(window, *panel) &&
          x_->Viewable(window)) {
        return window;
      }
    }
    return std::nullopt;
  }
  // The tray menu: a popup (override-redirect) window of our program on the screen.
  std::optional<Window> OpenMenu() const {
    for (Window window : x_->AllWindows()) {
      if (x_->Parent(window) == DefaultRootWindow(x_->Dpy()) &&
          x_->Class(window) == "quorvane-server" && x_->OverrideRedirect(window) &&
          x_->Viewable(window) && x_->Size(window).second > 10) {
        return window;
      }
    }
    return std::nullopt;
  }
  // Right button on the icon, then a click on the menu's only item, "Show". The press is
  // repeated (at most 5 times) while no menu comes: right after docking, the icon may not take
  // input yet.
  void ClickShowInTrayMenu(Window icon) {
    const auto [ix, iy] = x_->ScreenPosition(icon);
    std::optional<Window> menu;
    for (int attempt = 0; attempt < 5 && !menu; ++attempt) {
      ASSERT_TRUE(x_->Click(ix + 5, iy + 5, 3));
      WaitFor([&] { return (menu = OpenMenu()).has_value(); }, std::chrono::seconds(3));
    }
    ASSERT_TRUE(menu.has_value()) << "no tray menu appeared";
    const auto [mx, my] = x_->ScreenPosition(*menu);
    const auto [mw, mh] = x_->Size(*menu);
    ASSERT_TRUE(x_->Click(mx + mw / 2, my + mh / 2, 1));
    ASSERT_TRUE(WaitFor([&] { return !OpenMenu().has_value(); }, std::chrono::seconds(10)));
  }

  // Starts the program on the display with a configuration of its own and waits for its main
  // window.
  void StartProgram() {
    IniConfig config;
    config.port = FreePortPair();
    config.groups = {{"127.0.0.2::Anna"}};
    WriteFile(dir_.Path() + "/Server.ini", IniText(config));
    const std::string exe = dir_.Path() + "/quorvane-server";
    std::filesystem::copy_file(QV_SERVER_PATH, exe);
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{exe},
        std::vector<std::string>{"DISPLAY=" + x_->DisplayName(), "QT_QPA_PLATFORM=xcb"},
        std::vector<std::string>{"DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY"},
        dir_.Path() + "/out.txt");
    ASSERT_TRUE(WaitFor([&] { return (main_ = MainWindow()).has_value() && x_->Viewable(*main_); },
                        std::chrono::seconds(20)))
        << "the main window did not appear; " << Output();
  }
  std::string Output() const { return ReadText(dir_.Path() + "/out.txt"); }
  // Closing the main window ends the program with status 0.
  void CloseAndExpectStatusZero() {
    x_->RequestClose(*main_);
    const std::optional<int> status = server_->WaitExit(std::chrono::seconds(15));
    ASSERT_TRUE(status.has_value()) << "still running after its main window closed; " << Output();
    ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status) << "; " << Output();
    EXPECT_EQ(WEXITSTATUS(*status), 0) << Output();
  }

  std::unique_ptr<X11Session> x_;
  TempDir dir_;
  std::unique_ptr<ChildProcess> server_;
  std::optional<Window> main_;
};

TEST_F(TrayE2eTest, StartsDocksHidesShowsAndClosesWithStatusZero) {
  try {
    x_ = std::make_unique<X11Session>();
  } catch (const std::exception& e) {
    FAIL() << "no X display with a tray for this test: " << e.what();
  }
  ASSERT_NO_FATAL_FAILURE(StartProgram());
  std::optional<Window> icon;
  ASSERT_TRUE(WaitFor([&] { return (icon = DockedIcon()).has_value(); }, std::chrono::seconds(10)))
      << "no icon docked in the tray; " << Output();
  EXPECT_FALSE(server_->WaitExit(std::chrono::milliseconds(0)).has_value()) << Output();

  ClickShowInTrayMenu(*icon);
  EXPECT_TRUE(WaitFor([&] { return !x_->Viewable(*main_); }, std::chrono::seconds(10)))
      << "the tray menu did not hide the main window";
  ClickShowInTrayMenu(*icon);
  EXPECT_TRUE(WaitFor([&] { return x_->Viewable(*main_); }, std::chrono::seconds(10)))
      << "the tray menu did not show the main window again";

  ASSERT_NO_FATAL_FAILURE(CloseAndExpectStatusZero());
  EXPECT_EQ(Output().find("Duplicated"), std::string::npos) << Output();
}

// A tray that starts 3 s after the program (as when a session autostarts both) still gets the
// icon docked.
TEST_F(TrayE2eTest, ATrayStartedLaterDocksTheIcon) {
  try {
    x_ = std::make_unique<X11Session>(false);
  } catch (const std::exception& e) {
    FAIL() << "no X display for this test: " << e.what();
  }
  ASSERT_NO_FATAL_FAILURE(StartProgram());
  std::this_thread::sleep_for(std::chrono::seconds(3));
  ASSERT_NO_THROW(x_->StartTray());
  std::optional<Window> icon;
  EXPECT_TRUE(WaitFor([&] { return (icon = DockedIcon()).has_value(); }, std::chrono::seconds(10)))
      << "no icon docked in the tray that came later; " << Output();
  ASSERT_NO_FATAL_FAILURE(CloseAndExpectStatusZero());
}

// The in-process desktop test once more, on the display with a tray: there it finds the tray
// icon set up with the server's name as its hint and the main window's menu as its menu.
TEST(TrayE2e, DesktopTestSeesTheTrayHintAndMenu) {
  std::unique_ptr<X11Session> x;
  try {
    x = std::make_unique<X11Session>();
  } catch (const std::exception& e) {
    FAIL() << "no X display with a tray for this test: " << e.what();
  }
  TempDir dir;
  ChildProcess test({QV_DESKTOP_TEST_PATH, "--gtest_filter=DesktopApp.*"},
                    {"DISPLAY=" + x->DisplayName(), "QT_QPA_PLATFORM=xcb", "QV_EXPECT_TRAY=1"},
                    {"DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "QV_SCREENSHOT_DIR"},
                    dir.Path() + "/out.txt");
  const std::optional<int> status = test.WaitExit(std::chrono::seconds(60));
  const std::string output = ReadText(dir.Path() + "/out.txt");
  ASSERT_TRUE(status.has_value()) << output;
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
}

}  // namespace
}  // namespace qv::test
