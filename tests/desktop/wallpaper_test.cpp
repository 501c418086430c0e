// The renderer's --wallpaper seen from outside, each run on a private
// session bus of its own: the file it saves (where, its size, its recipe),
// how the wallpaper was set (a stand-in portal that records the call and the
// bytes it read through the file descriptor passed; GNOME's settings kept in
// a key file under a temporary folder), what --keep leaves in the folder,
// and what it refuses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "canvas/recipe.h"
#include "imaging/picture_file.h"
#include "tests/canvas/test_files.h"

extern char** environ;

namespace pictovance {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::TempFolder;

struct Finished {
  int status = -1;  // -1: killed, or still running after two minutes
  std::string out;
  std::string err;
};

// Runs argv with this process's environment, less anything that would
// reach a real desktop, plus env.
Finished RunProcess(std::vector<std::string> argv, const std::map<std::string, std::string>& env,
                    const fs::path& logs) {
  static const char* const kDropped[] = {"DISPLAY",         "WAYLAND_DISPLAY",     "DBUS_SESSION_BUS_ADDRESS",
                                         "QT_QPA_PLATFORM", "XDG_CURRENT_DESKTOP", "GSETTINGS_BACKEND",
                                         "XDG_CONFIG_HOME"};
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    const std::string name = text.substr(0, text.find('='));
    if (std::find(std::begin(kDropped), std::end(kDropped), name) == std::end(kDropped) &&
        !env.contains(name))
      environment.push_back(text);
  }
  for (const auto& [name, value] : env) environment.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<char*> args;
  for (std::string& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);

  const fs::path out = logs / "stdout";
  const fs::path err = logs / "stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  Finished finished;
  if (spawned != 0) return finished;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      status = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  finished.status = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  finished.out = ReadBytes(out.string());
  finished.err = ReadBytes(err.string());
  return finished;
}

std::vector<std::string> OnPrivateBus(std::vector<std::string> command) {
  command.insert(command.begin(), {PV_DBUS_RUN_SESSION, std::string("--config-file=") + PV_BUS_CONFIG, "--"});
  return command;
}

// The lines a run printed, less the private bus's own (it says when it
// cannot raise its file limit, say).
std::vector<std::string> OwnLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.starts_with("dbus-daemon[")) lines.push_back(line);
  }
  return lines;
}

std::size_t LineCount(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// A saved picture with its recipe, as Save writes it.
void WriteSavedPicture(const fs::path& path, int width, int height) {
  Image picture;
  picture.CreateBitmap(width, height, 0x336699);
  Recipe recipe;
  recipe.width = width;
  recipe.height = height;
  picture.SetTexts(RecipeTexts(recipe));
  picture.SetSaveFormat(testing::kPng);
  fs::path bare = path;
  picture.SaveBitmap(bare.replace_extension().string());
}

std::string GnomeSetting(const std::map<std::string, std::string>& env, const std::string& key,
                         const fs::path& logs) {
  const Finished got = RunProcess({"gsettings", "get", "org.gnome.desktop.background", key}, env, logs);
  return got.status == 0 ? got.out : "gsettings failed: " + got.err;
}

// Stand-ins for KDE Plasma's and Xfce's tools: they log how they were
// called, and xfconf-query lists two backdrops among other properties.
void WriteDesktopTools(const fs::path& bin) {
  fs::create_directories(bin);
  testing::WriteBytes((bin / "plasma-apply-wallpaperimage").string(),
                      "#!/bin/sh\necho \"plasma-apply-wallpaperimage $*\" >>\"$TOOLS_LOG\"\n");
  testing::WriteBytes((bin / "xfconf-query").string(),
                      "#!/bin/sh\n"
                      "if [ \"$*\" = '-c xfce4-desktop -l' ]; then\n"
                      "  printf '%s\\n' /backdrop/screen0/monitor0/workspace0/color-style \\\n"
                      "    /backdrop/screen0/monitor0/workspace0/last-image /desktop-icons/style \\\n"
                      "    /backdrop/screen0/monitorHDMI-1/workspace0/last-image\n"
                      "else echo \"xfconf-query $*\" >>\"$TOOLS_LOG\"; fi\n");
  for (const char* tool : {"plasma-apply-wallpaperimage", "xfconf-query"}) {
    fs::permissions(bin / tool, fs::perms::owner_all);
  }
}

// text with every @FILE@ replaced by file.
std::string WithFile(std::string text, const std::string& file) {
  for (std::size_t at; (at = text.find("@FILE@")) != std::string::npos;) text.replace(at, 6, file);
  return text;
}

struct WayCase {
  const char* name;
  std::optional<unsigned> portalAnswer;  // nullopt: no portal on the bus
  const char* desktop;                   // XDG_CURRENT_DESKTOP
  const char* size;                      // --size, or nullptr for the screen's
  int status;
  const char* says;  // on stderr
  bool throughGnome;
  const char* toolCalls = "";  // what the stand-ins for KDE's and Xfce's tools log
};

void PrintTo(const WayCase& c, std::ostream* out) { *out << c.name; }

class WallpaperWayTest : public ::testing::TestWithParam<WayCase> {};

// One run: the picture is painted, saved into Wallpapers with its recipe
// at the screen's size in pixels (the larger of two screens, by pixels,
// not by logical size) or --size, and set the first way that works; once
// it is set, the older saved picture beyond --keep 1 goes and the other
// file stays, and when it is not set nothing is removed.
TEST_P(WallpaperWayTest, SavesSetsAndTidies) {
  const WayCase& c = GetParam();
  TempFolder home;
  const fs::path pictures = home.path() / "pictures";
  const fs::path wallpapers = pictures / "Wallpapers";
  const fs::path record = home.path() / "portal";
  fs::create_directories(wallpapers);
  fs::create_directories(record);
  const fs::path older = wallpapers / "4000000000-AB.png";
  WriteSavedPicture(older, 8, 4);
  const fs::path notes = wallpapers / "notes.txt";
  testing::WriteBytes(notes.string(), "not a picture");

  const std::map<std::string, std::string> env = {
      {"QT_QPA_PLATFORM", std::string("offscreen:configfile=") + PV_TEST_DATA_DIR + "/two_screens.json"},
      {"XDG_CURRENT_DESKTOP", c.desktop},
      {"GSETTINGS_BACKEND", "keyfile"},
      {"XDG_CONFIG_HOME", (home.path() / "config").string()},
      {"PATH", (home.path() / "bin").string() + ":" + std::getenv("PATH")},
      {"TOOLS_LOG", (home.path() / "tools.log").string()},
  };
  WriteDesktopTools(home.path() / "bin");
  std::vector<std::string> command = {PV_RENDER, "--wallpaper", "--no-effects", "--seed",         "5",
                                      "--keep",  "1",           "--out",        pictures.string()};
  if (c.size != nullptr) command.insert(command.end(), {"--size", c.size});
  if (c.portalAnswer) {
    command.insert(command.begin(), {PV_FAKE_PORTAL, record.string(), std::to_string(*c.portalAnswer), "--"});
  }
  const Finished run = RunProcess(OnPrivateBus(command), env, home.path());

  ASSERT_EQ(run.status, c.status) << run.err;
  const std::vector<std::string> said = OwnLines(run.err);
  ASSERT_EQ(said.size(), 1u) << run.err;
  EXPECT_EQ(said[0].rfind("pictovance-render: ", 0), 0u) << said[0];
  EXPECT_NE(said[0].find(c.says), std::string::npos) << said[0];
  ASSERT_EQ(LineCount(run.out), 1u) << run.out;
  const fs::path saved = run.out.substr(0, run.out.size() - 1);
  EXPECT_EQ(saved.parent_path(), wallpapers);

  const int width = c.size == nullptr ? 1280 : 48;
  const int height = c.size == nullptr ? 800 : 32;
  Image picture;
  picture.LoadBitmap(saved.string());
  EXPECT_EQ(picture.Width(), width);
  EXPECT_EQ(picture.Height(), height);
  const Recipe recipe = ParseRecipe(ReadPngTexts(saved.string()));
  EXPECT_EQ(recipe.width, width);
  EXPECT_EQ(recipe.height, height);
  EXPECT_EQ(recipe.seed, PictureSeed(5, 0)) << "not picture 0 of the run's seed";

  if (c.portalAnswer) {
    const std::string call = ReadBytes((record / "call").string());
    EXPECT_EQ(call.rfind("parent= ", 0), 0u) << "a parent window was named: " << call;
    EXPECT_EQ(LineCount(call), 1u) << call;
    EXPECT_NE(call.find(" set-on=both"), std::string::npos) << call;
    EXPECT_NE(call.find(" show-preview=false"), std::string::npos) << call;
    EXPECT_EQ(ReadBytes((record / "received.png").string()), ReadBytes(saved.string()))
        << "the portal did not read the saved file through the descriptor";
  }
  const std::string uri = "'file://" + saved.string() + "'\n";
  for (const char* key : {"picture-uri", "picture-uri-dark"}) {
    SCOPED_TRACE(key);
    if (c.throughGnome) {
      EXPECT_EQ(GnomeSetting(env, key, home.path()), uri);
    } else {
      EXPECT_NE(GnomeSetting(env, key, home.path()), uri);
    }
  }

  EXPECT_EQ(fs::exists(home.path() / "tools.log") ? ReadBytes((home.path() / "tools.log").string()) : "",
            WithFile(c.toolCalls, saved.string()));

  EXPECT_TRUE(fs::exists(saved));
  EXPECT_TRUE(fs::exists(notes));
  EXPECT_EQ(fs::exists(older), c.status != 0)
      << "--keep 1 " << (c.status == 0 ? "kept" : "removed") << " the older picture";
}

INSTANTIATE_TEST_SUITE_P(
    Ways, WallpaperWayTest,
    ::testing::Values(
        WayCase{"PortalFirstAtTheScreensSize", 0u, "GNOME", nullptr, 0, "set through the desktop portal",
                false},
        WayCase{"GnomeWhenThePortalFails", 2u, "GNOME", "48x32", 0, "set through GNOME's settings", true},
        WayCase{"GnomeWithoutAPortal", std::nullopt, "ubuntu:GNOME", "48x32", 0,
                "set through GNOME's settings", true},
        WayCase{"PlasmaWithoutAPortal", std::nullopt, "KDE", "48x32", 0, "set through KDE Plasma", false,
                "plasma-apply-wallpaperimage @FILE@\n"},
        WayCase{
            "XfceWithoutAPortal", std::nullopt, "XFCE", "48x32", 0, "set through Xfce's settings", false,
            "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitor0/workspace0/last-image -s @FILE@\n"
            "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorHDMI-1/workspace0/last-image -s "
            "@FILE@\n"},
        WayCase{"UnsupportedDesktopWithoutAPortal", std::nullopt, "LXQt", "48x32", 1,
                "only GNOME, KDE Plasma and Xfce can be set, and this desktop is \"LXQt\"", false}),
    [](const ::testing::TestParamInfo<WayCase>& info) { return std::string(info.param.name); });

struct RefusalCase {
  const char* name;
  std::vector<std::string> args;
  const char* says;
};

void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }

class WallpaperRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

// Options that do not go with --wallpaper, a --keep without it or below 1,
// and no --size where no display can be reached: one line, exit status 2,
// nothing written.
TEST_P(WallpaperRefusalTest, OneLineAndNothingWritten) {
  const RefusalCase& c = GetParam();
  TempFolder home;
  std::vector<std::string> command = {PV_RENDER, "--out", (home.path() / "pictures").string()};
  command.insert(command.end(), c.args.begin(), c.args.end());
  const Finished run = RunProcess(command, {}, home.path());
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_EQ(LineCount(run.err), 1u) << run.err;
  EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(fs::exists(home.path() / "pictures"));
}

INSTANTIATE_TEST_SUITE_P(
    Options, WallpaperRefusalTest,
    ::testing::Values(RefusalCase{"Count", {"--wallpaper", "--size", "8x8", "--count", "2"}, "--count"},
                      RefusalCase{"Jobs", {"--wallpaper", "--size", "8x8", "--jobs", "2"}, "--jobs"},
                      RefusalCase{"First", {"--wallpaper", "--size", "8x8", "--first", "3"}, "--first"},
                      RefusalCase{"Again", {"--wallpaper", "--again", "x.png"}, "--again"},
                      RefusalCase{"KeepAlone", {"--keep", "3"}, "--keep goes with --wallpaper"},
                      RefusalCase{
                          "KeepZero", {"--wallpaper", "--size", "8x8", "--keep", "0"}, "--keep wants"},
                      RefusalCase{"NoDisplayNoSize", {"--wallpaper"}, "--wallpaper needs --size WxH"}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pictovance
