// Where the settings file lives: beside a program whose folder takes files, else under
// the user's configuration folder; --config always wins.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "TempDir.h"
#include "control/CSettingsLocation.h"
#include "control/CSettingsRecord.h"

namespace {

// Sets (or with nullopt unsets) one environment variable for the scope.
class EnvVar {
 public:
  EnvVar(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }
  ~EnvVar() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(SettingsLocation, ProgramFolderThatTakesFilesKeepsTheSettings) {
  TempDir program;
  EXPECT_EQ(CSettingsLocation::Resolve("", program.Path(), ""), program.File("ZUZIvor.ini"));
  // The probe leaves nothing behind.
  EXPECT_TRUE(std::filesystem::is_empty(program.Path()));
  EXPECT_EQ(CSettingsLocation::Resolve("/elsewhere/my.ini", program.Path(), ""),
            "/elsewhere/my.ini");
}

TEST(SettingsLocation, ProgramFolderThatTakesNoFilesSendsThemToUserConfig) {
  TempDir home;
  EnvVar h("HOME", home.Path());
  EnvVar x("XDG_CONFIG_HOME", std::nullopt);
  const std::string user = home.Path() + "/.config/vantrel/ZUZIvor.ini";
  EXPECT_EQ(CSettingsLocation::Resolve("", home.File("no/such/folder"), ""), user);
  // An installed copy uses the user's folder even where it could write (root, ~/.local).
  EXPECT_EQ(CSettingsLocation::Resolve("", home.Path(), home.Path()), user);
  EXPECT_EQ(CSettingsLocation::Resolve("/given.ini", home.File("no/such/folder"), ""),
            "/given.ini");
  {
    EnvVar xdg("XDG_CONFIG_HOME", home.File("xdg"));
    EXPECT_EQ(CSettingsLocation::UserFile(), home.File("xdg/vantrel/ZUZIvor.ini"));
  }
  {
    EnvVar xdg("XDG_CONFIG_HOME", "relative/config");  // not absolute: ignored
    EXPECT_EQ(CSettingsLocation::UserFile(), user);
  }
}

TEST(SettingsLocation, FirstSaveToUserConfigMakesItsFolderAndLeavesOthersAlone) {
  TempDir home;
  EnvVar h("HOME", home.Path());
  EnvVar x("XDG_CONFIG_HOME", std::nullopt);
  CSettingsRecord r;
  r.SetFilePath(CSettingsLocation::UserFile());
  r.xCount = 40;
  ASSERT_TRUE(r.SaveSettings()) << r.LastError();
  EXPECT_NE(TempDir::Read(CSettingsLocation::UserFile()).find("X_Count=40"), std::string::npos);

  // A missing folder anywhere else stays an error.
  r.SetFilePath(home.File("gone/ZUZIvor.ini"));
  EXPECT_FALSE(r.SaveSettings());
  EXPECT_FALSE(std::filesystem::exists(home.File("gone")));
}

}  // namespace
