// The window's commands as one list: each with its text, its shortcut and
// the window's operation it runs. The list makes both the window's
// keyboard shortcuts and the context menu of the preview (right click, the
// Menu key, Shift+F10), so a command added to WindowCommands is in both,
// with its shortcut shown beside it.
//
// The menu only adds ways in: every command runs the same operation as its
// button, with the operation's own guards.
//
// What it does not promise: shortcuts that win over a text field's own
// (Ctrl+C, Ctrl+V and plain letters go to a field that has the focus).
#pragma once

#include <QKeySequence>
#include <QObject>
#include <QPoint>
#include <QString>
#include <functional>
#include <vector>

class QAction;
class QMenu;
class QWidget;

namespace pictovance {

class MainWindow;

struct WindowCommand {
  QString text;  // as the menu shows it, "&" before the key letter
  QKeySequence shortcut;
  std::function<void()> run;
  bool separatorBefore = false;
};

// Every command of the window, in menu order.
std::vector<WindowCommand> WindowCommands(MainWindow& window);

// The context menu of the preview, and the window's shortcuts, from a list
// of commands.
class CommandMenu : public QObject {
  Q_OBJECT

 public:
  // The shortcuts work anywhere in window; the menu opens over preview.
  CommandMenu(QWidget* window, QWidget* preview, const std::vector<WindowCommand>& commands);

  QMenu* Menu() const { return m_menu; }
  // Opens the menu at pos (window coordinates of the preview), or at the
  // preview's centre for a keyboard request.
  void Open(QPoint pos);
  void OpenFromKeyboard();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* m_window;
  QWidget* m_preview;
  QMenu* m_menu;
};

// The size presets of the "X" label from the keyboard: a small menu under
// the label, whose two entries do what a left and a right click do.
void OpenPresetMenu(QWidget* label, const std::function<void(Qt::MouseButton)>& apply);

}  // namespace pictovance
