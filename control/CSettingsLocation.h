// Where the settings file ZUZIvor.ini lives.
#pragma once

#include <string>

class CSettingsLocation {
 public:
  // The file to use: configOption when given; otherwise ZUZIvor.ini beside the program
  // when the program's folder takes new files (a build tree, a portable copy); otherwise,
  // and always for a copy in the folder the programs are installed to,
  // $XDG_CONFIG_HOME/vantrel/ZUZIvor.ini (~/.config when XDG_CONFIG_HOME is unset).
  static std::string Resolve(const std::string& configOption);
  // The same for a program in programDir; installedDir is the folder installed
  // programs live in (empty: none).
  static std::string Resolve(const std::string& configOption, const std::string& programDir,
                             const std::string& installedDir);

  // ZUZIvor.ini under the user's configuration folder.
  static std::string UserFile();
  // The running program's folder, without a trailing slash.
  static std::string ProgramDir();
  // True when a file can be created in dir: tried, not read from permission bits.
  static bool TakesNewFiles(const std::string& dir);
};
