// The setup program under Wine, in a prefix of its own that starts with
// nothing installed, as a user's PC would (scripts/test-windows makes it,
// with a HOME of its own, so that the prefix's Documents is no link into a
// real home folder). The prefix is WINEPREFIX; scripts/test-windows names
// what else these tests need:
//   KX_WIN_SETUP       the setup program
//   KX_WIN_SETUP_PORT  "COM7=/path/link": a COM port that Wine maps onto
//                      the path, which a simulator makes a link to its
//                      pseudo-terminal
//   KX_WIN_APP         the unpacked zip: the files a setup installs
// Without them (a plain ctest run) the tests skip.
//
// What Wine cannot show (Settings > Apps itself, SmartScreen, UAC's prompt,
// a signed setup) is listed in README-Windows.txt and docs/development.md.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/cli_process.h"
#include "support/sim_process.h"
#include "window_driver.h"

namespace {

namespace fs = std::filesystem;
using kx::test::CliResult;
using kx::test::env;
using kx::test::kWine;

const std::string kProduct = "KX627 Configuration Tool";
const std::string kUninstallKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + kProduct;
// Setup's exit code when the program runs from the folder it installs into.
constexpr int kExitProgramRunning = 3;

std::string bytesOf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += {c, '\0'};
  return out;
}

// The program's icon (every image of the .ico), version information and a
// manifest that asks for no elevation, as Explorer and Windows read them
// from the resources of the file.
void expectResources(const fs::path& exe, bool asInvoker) {
  SCOPED_TRACE(exe.string());
  const std::string bytes = bytesOf(exe);
  ASSERT_FALSE(bytes.empty());
  for (const std::string& text : {std::string("VS_VERSION_INFO"), kProduct, std::string(KX_VERSION)})
    EXPECT_NE(bytes.find(utf16(text)), std::string::npos) << text;
  const std::string icon = bytesOf(KX_APP_ICON);
  const auto u16 = [&](std::size_t at) { return std::size_t(uint8_t(icon[at])) | std::size_t(uint8_t(icon[at + 1])) << 8; };
  const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
  ASSERT_GT(icon.size(), 6u);
  for (std::size_t i = 0; i < u16(4); ++i) {
    const std::size_t size = u32(6 + 16 * i + 8), offset = u32(6 + 16 * i + 12);
    EXPECT_NE(bytes.find(icon.substr(offset, std::min<std::size_t>(size, 512))), std::string::npos)
        << "icon image " << i;
  }
  if (asInvoker) {
    EXPECT_NE(bytes.find("level=\"asInvoker\""), std::string::npos);
  }
}

class Setup : public ::testing::Test {
 protected:
  void SetUp() override {
    setup = env("KX_WIN_SETUP");
    zip = env("KX_WIN_APP");
    const std::string port = env("KX_WIN_SETUP_PORT");
    const std::size_t eq = port.find('=');
    if (setup.empty() || zip.empty() || env("WINEPREFIX").empty() || eq == std::string::npos)
      GTEST_SKIP() << "scripts/test-windows runs these (KX_WIN_SETUP, KX_WIN_SETUP_PORT, KX_WIN_APP)";
    if (env("KX_WIN_DISPLAY").empty() || env("DISPLAY") != env("KX_WIN_DISPLAY"))
      GTEST_SKIP() << "needs Wine on an X display of its own (scripts/test-windows starts Xvfb)";
    comPort = port.substr(0, eq);
    portLink = port.substr(eq + 1);
    drive = fs::path(env("WINEPREFIX")) / "drive_c";
    for (const auto& e : fs::directory_iterator(drive / "users"))
      if (e.path().filename() != "Public") home = e.path();
    ASSERT_FALSE(home.empty()) << "no user in the prefix";
  }

  CliResult wine(std::vector<std::string> args, int timeoutMs = 120000) {
    return kx::test::runProgram(kWine, std::move(args), timeoutMs);
  }
  // A registry key as `reg query` lists it; empty when there is none.
  std::string query(const std::string& key) {
    const CliResult r = wine({"reg", "query", key});
    return r.code == 0 ? r.out : "";
  }
  // Every file in the prefix's user, program and shared folders, but
  // temporary ones, by its path in drive_c; and in the user's Documents
  // and Desktop, which Wine links to HOME (but its hidden folders, where
  // Wine copies Start-menu entries for the Linux desktop).
  std::set<std::string> files() const {
    std::set<std::string> out;
    const auto add = [&](const fs::path& top, const std::string& as) {
      std::error_code ec;
      for (auto it = fs::recursive_directory_iterator(top, ec); it != fs::recursive_directory_iterator();
           it.increment(ec)) {
        const std::string path = as + fs::relative(it->path(), top).string();
        if (it->path().filename().string().starts_with(".") && it->is_directory()) it.disable_recursion_pending();
        else if (path.find("/Temp/") == std::string::npos && !it->is_directory()) out.insert(path);
      }
    };
    for (const char* top : {"users", "Program Files", "ProgramData"}) add(drive / top, std::string(top) + "/");
    add(fs::canonical(home / "Documents"), "Documents/");
    return out;
  }
  // Runs the uninstaller as Settings > Apps runs it silently. It copies
  // itself away to remove its own folder and returns at once: waits until
  // the folder has gone.
  void uninstall(const fs::path& folder) {
    const CliResult r = wine({(folder / "Uninstall.exe").string(), "/S"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    for (int i = 0; i < 600 && fs::exists(folder); ++i) ::usleep(100 * 1000);
    EXPECT_FALSE(fs::exists(folder)) << "the uninstaller left " << folder;
  }
  // The program folder holds the zip's files and the uninstaller.
  void expectTheZipsFilesIn(const fs::path& folder) {
    ASSERT_TRUE(fs::is_directory(folder)) << folder;
    std::set<std::string> want{"Uninstall.exe"}, have;
    for (const auto& e : fs::directory_iterator(zip)) want.insert(e.path().filename().string());
    for (const auto& e : fs::directory_iterator(folder)) have.insert(e.path().filename().string());
    EXPECT_EQ(have, want);
    EXPECT_TRUE(bytesOf(folder / "kx627-config.exe") == bytesOf(fs::path(zip) / "kx627-config.exe"))
        << "kx627-config.exe is not the zip's";
  }
  // The uninstall entry of Settings > Apps.
  void expectUninstallEntry(const std::string& hive, const fs::path& folder, const std::string& windowsFolder) {
    const std::string entry = query(hive + kUninstallKey);
    for (const std::string& value :
         {"DisplayName REG_SZ " + kProduct, std::string("DisplayVersion REG_SZ " KX_VERSION),
          std::string("Publisher REG_SZ KX627 Configuration Tool developers"),
          "DisplayIcon REG_SZ " + windowsFolder + "\\kx627-config.exe,0",
          "UninstallString REG_SZ \"" + windowsFolder + "\\Uninstall.exe\"",
          "QuietUninstallString REG_SZ \"" + windowsFolder + "\\Uninstall.exe\" /S"})
      EXPECT_NE(std::regex_replace(entry, std::regex("[ \t]+"), " ").find(value), std::string::npos)
          << value << " in\n" << entry;
    std::smatch size;
    ASSERT_TRUE(std::regex_search(entry, size, std::regex("EstimatedSize\\s+REG_DWORD\\s+0x([0-9a-fA-F]+)"))) << entry;
    const std::uintmax_t kb = std::stoul(size[1], nullptr, 16);
    EXPECT_NEAR(double(kb), double(fs::file_size(folder / "kx627-config.exe")) / 1024, 0.5 * double(kb));
  }

  std::string setup, zip, comPort, portLink;
  fs::path drive, home;
};

TEST_F(Setup, InstallsForTheUserStartsFromTheStartMenuUpgradesAndUninstalls) {
  const fs::path programs = home / "AppData/Local/Programs" / kProduct;
  const fs::path startMenu = home / "AppData/Roaming/Microsoft/Windows/Start Menu/Programs" / kProduct;
  const fs::path userFolder = home / "Documents/KX627";
  const std::string kept = "Documents/KX627/";
  const std::string windowsPrograms = "C:\\users\\" + home.filename().string() + "\\AppData\\Local\\Programs\\" + kProduct;
  expectResources(setup, true);
  const std::set<std::string> before = files();

  // Silently, for the user alone (/CurrentUser: Wine runs every program as
  // an elevated administrator, for which setup installs for all users): the
  // programs in the user's programs folder, the Start-menu entries, the
  // user's folder, the uninstall entry, and nothing outside the user's own
  // folders and hive: nothing that needs administrator rights.
  CliResult r = wine({setup, "/S", "/CurrentUser"});
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  expectTheZipsFilesIn(programs);
  expectResources(programs / "Uninstall.exe", false);
  for (const char* entry : {"KX627 Configuration Tool", "KX627 Production", "KX627 Configuration Manual",
                            "AT Command Manual", "Uninstall KX627 Configuration Tool"})
    EXPECT_TRUE(fs::is_regular_file(startMenu / (std::string(entry) + ".lnk"))) << entry;
  EXPECT_NE(bytesOf(startMenu / "AT Command Manual.lnk").find("AT Command Manual.pdf"), std::string::npos);
  EXPECT_FALSE(fs::exists(home / "Desktop" / (kProduct + ".lnk"))) << "a desktop shortcut only when asked for";
  EXPECT_TRUE(fs::is_directory(userFolder));
  expectUninstallEntry("HKCU", programs, windowsPrograms);
  EXPECT_EQ(query("HKLM" + kUninstallKey), "");
  for (const std::string& file : files()) {
    if (!before.count(file)) {
      EXPECT_TRUE(file.starts_with("users/" + home.filename().string() + "/") || file.starts_with(kept)) << file;
    }
  }

  // The Start-menu entry starts the window in the user's folder: it takes
  // the port from the settings.txt there, finds and reads the adapter, and
  // writes settings.txt there when it closes.
  auto sim = std::make_unique<kx::test::SimProcess>(
      std::vector<std::string>{"--restart-ms", "100", "--link", portLink, "--baud", "38400", "--flow", "on"});
  ASSERT_TRUE(sim->started());
  std::ofstream(userFolder / "settings.txt")
      << "Port = " << comPort << "\nBaud = 9600\nStopBits = 1\nParity = None\nFlowControl = Off\n";
  // As Explorer starts it: start.exe's ShellExecute (given a Unix path,
  // Wine's start fails to open a shortcut). The window gets no pipe of
  // this test's, which would stay open until it ends.
  const std::string shortcut = "C:\\users\\" + home.filename().string() +
                               "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\" + kProduct +
                               "\\KX627 Configuration Tool.lnk";
  r = kx::test::runProgram("/bin/sh", {"-c", "exec \"$0\" start \"$1\" </dev/null >/dev/null 2>&1", kWine, shortcut});
  ASSERT_EQ(r.code, 0);
  kx::test::readTheAdapterInTheWindow(*sim);
  if (HasFatalFailure()) return;
  const auto running = kx::test::processesWith("Programs\\" + kProduct + "\\kx627-config.exe");
  EXPECT_EQ(running.size(), 1u);

  // Setup while the program runs: in silent mode it fails at once with its
  // own exit code, and leaves the program as it was.
  const auto installed = fs::last_write_time(programs / "kx627-config.exe");
  r = wine({setup, "/S", "/CurrentUser"});
  EXPECT_EQ(r.code, kExitProgramRunning) << r.out << r.err;
  EXPECT_EQ(fs::last_write_time(programs / "kx627-config.exe"), installed);

  kx::test::closeTheWindow();
  ASSERT_TRUE(kx::test::waitForEnds(running, 60000)) << "the window did not close";
  const std::string settings = bytesOf(userFolder / "settings.txt");
  for (const std::string& line : {"Port = " + comPort + "\r\n", std::string("Baud = 38400\r\n"),
                                  std::string("FlowControl = On\r\n")})
    EXPECT_NE(settings.find(line), std::string::npos) << line << " in\n" << settings;

  // An upgrade over the installation replaces the program in its folder
  // and keeps the user's files.
  std::ofstream(programs / "kx627-config.exe", std::ios::app) << "an older version";
  r = wine({setup, "/S", "/CurrentUser"});
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  expectTheZipsFilesIn(programs);
  EXPECT_EQ(bytesOf(userFolder / "settings.txt"), settings);

  // Uninstalling leaves the user's files alone.
  uninstall(programs);
  EXPECT_EQ(query("HKCU" + kUninstallKey), "");
  EXPECT_EQ(bytesOf(userFolder / "settings.txt"), settings);
  std::set<std::string> left;
  for (const std::string& file : files())
    if (!file.starts_with(kept)) left.insert(file);
  EXPECT_EQ(left, before);
}

// Run elevated (as Wine runs every program), for every user of the PC: the
// programs in a folder of the PC (here one given with /D), the Start-menu
// entries and the desktop shortcut for all users, the files in the Public
// Documents folder, the uninstall entry in the machine's hive. An upgrade
// (/AllUsers) finds the folder.
TEST_F(Setup, InstallsForAllUsersWhenElevatedUpgradesAndUninstalls) {
  const fs::path programs = drive / "Tools/KX627";
  const fs::path startMenu = drive / "ProgramData/Microsoft/Windows/Start Menu/Programs" / kProduct;
  CliResult r = wine({setup, "/S", "/Desktop", "/D=C:\\Tools\\KX627"});
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  r = wine({setup, "/S", "/AllUsers"});
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  expectTheZipsFilesIn(programs);
  EXPECT_FALSE(fs::exists(drive / "Program Files" / kProduct));
  EXPECT_TRUE(fs::is_regular_file(startMenu / (kProduct + ".lnk")));
  EXPECT_TRUE(fs::is_regular_file(drive / "users/Public/Desktop" / (kProduct + ".lnk")));
  EXPECT_TRUE(fs::is_directory(drive / "users/Public/Documents/KX627"));
  expectUninstallEntry("HKLM", programs, "C:\\Tools\\KX627");
  EXPECT_EQ(query("HKCU" + kUninstallKey), "");

  uninstall(programs);
  EXPECT_EQ(query("HKLM" + kUninstallKey), "");
  EXPECT_FALSE(fs::exists(startMenu));
  EXPECT_FALSE(fs::exists(drive / "users/Public/Desktop" / (kProduct + ".lnk")));
  EXPECT_TRUE(fs::is_directory(drive / "users/Public/Documents/KX627"));
}

}  // namespace
