// The dialogs a data view shows: file chooser, question and message boxes. Tests
// replace the functions to answer them.
#pragma once

#include <QString>
#include <functional>
#include <string>

#include "CCsvLog.h"

class QWidget;

struct CViewPrompts {
  static constexpr const char* kCaption = "VantrelTool Test Program";

  // Returns the chosen path, empty when cancelled. filter is in the "Name (*.ext)" form.
  // chooseFile is the save kind of chooser (a new name is fine), openFile the open kind.
  std::function<QString(const QString& filter)> chooseFile;
  std::function<QString(const QString& filter)> openFile;
  // Yes = true.
  std::function<bool(const QString& text)> askYesNo;
  std::function<void(const QString& text)> message;
  // A short notice for the main window's status line ("Saved /path/x.png").
  std::function<void(const QString& text)> notice;

  // Chooses where to save: the chosen name with ext (".png") added when it has none, and
  // Yes asked before an existing file is replaced. Empty when cancelled.
  QString ChooseSavePath(const QString& filter, const QString& ext) const;
  // Tells the status line where a file was saved.
  void Saved(const QString& path) const;

  // Chooses a file and opens it as a log: an existing file is created anew on Yes and
  // appended to on No. Writes the empty line and the header. False when cancelled or
  // the file could not be opened ("Could not Open File" is shown).
  bool OpenLog(CCsvLog& log, const QString& filter, const std::string& header) const;

  // Prompts that show the real dialogs over parent.
  static CViewPrompts ForWidget(QWidget* parent);
};
