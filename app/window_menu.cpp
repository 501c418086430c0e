#include "app/window_menu.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QShortcut>
#include <QWidget>

#include "app/main_window.h"

namespace pictovance {

std::vector<WindowCommand> WindowCommands(MainWindow& window) {
  MainWindow* w = &window;
  std::vector<WindowCommand> commands = {
      {QStringLiteral("&New picture"), QKeySequence(Qt::CTRL | Qt::Key_N), [w] { w->Randomize(); }},
      {QStringLiteral("&Save and paint the next"), QKeySequence(Qt::CTRL | Qt::Key_S),
       [w] { w->SaveResult(); }},
      {QStringLiteral("&Back"), QKeySequence(Qt::ALT | Qt::Key_Left), [w] { w->ShowPrevious(); }, true},
      {QStringLiteral("&Forward"), QKeySequence(Qt::ALT | Qt::Key_Right), [w] { w->ShowNext(); }},
      {QStringLiteral("&View full size"), QKeySequence(Qt::Key_F), [w] { w->ViewFullSize(); }, true},
      {QStringLiteral("&Copy picture"), QKeySequence(Qt::CTRL | Qt::Key_C), [w] { w->CopyPicture(); }},
      {QStringLiteral("&Open source pictures..."), QKeySequence(Qt::CTRL | Qt::Key_O),
       [w] { w->OpenSources(); }, true},
      {QStringLiteral("&Paste source pictures"), QKeySequence(Qt::CTRL | Qt::Key_V),
       [w] { w->PasteSources(); }},
      {QStringLiteral("Si&ze presets..."), QKeySequence(Qt::ALT | Qt::Key_X), [w] { w->ShowPresetMenu(); }},
      {QStringLiteral("Open pictures fol&der"), QKeySequence(Qt::CTRL | Qt::Key_D),
       [w] { w->OpenResultsFolder(); }, true},
      {QStringLiteral("Set as &wallpaper"), QKeySequence(), [w] { w->SetWallpaper(); }, true},
      {QStringLiteral("Paint a wa&llpaper"), QKeySequence(), [w] { w->PaintWallpaper(); }},
      // More commands go here, each in one line like those above: they join
      // the menu and the window's shortcuts at once.
  };
  return commands;
}

CommandMenu::CommandMenu(QWidget* window, QWidget* preview, const std::vector<WindowCommand>& commands)
    : QObject(window), m_window(window), m_preview(preview), m_menu(new QMenu(preview)) {
  m_menu->setObjectName(QStringLiteral("previewMenu"));
  m_menu->setAccessibleName(QStringLiteral("Commands"));
  m_menu->setAccessibleDescription(QStringLiteral("Every command of the window, with its key"));
  for (const WindowCommand& command : commands) {
    if (command.separatorBefore && !m_menu->isEmpty()) m_menu->addSeparator();
    auto* action = new QAction(command.text, m_window);
    action->setShortcut(command.shortcut);
    action->setShortcutContext(Qt::WindowShortcut);
    action->setShortcutVisibleInContextMenu(true);
    connect(action, &QAction::triggered, this, [run = command.run] { run(); });
    // On the window, the shortcut works while the menu is closed.
    m_window->addAction(action);
    m_menu->addAction(action);
  }
  preview->installEventFilter(this);
  window->installEventFilter(this);
  // Shift+F10 is the other key for a context menu, where there is no Menu key.
  connect(new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), window), &QShortcut::activated, this,
          [this] { OpenFromKeyboard(); });
}

void CommandMenu::Open(QPoint pos) { m_menu->popup(m_window->mapToGlobal(pos)); }

void CommandMenu::OpenFromKeyboard() {
  if (!m_menu->isVisible()) Open(m_preview->geometry().center());
}

bool CommandMenu::eventFilter(QObject* watched, QEvent* event) {
  // The Menu key that no control took: Qt turns it into a context menu
  // request on some platforms only.
  if (event->type() == QEvent::KeyPress && watched == m_window &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Menu) {
    OpenFromKeyboard();
    return true;
  }
  if (event->type() == QEvent::ContextMenu) {
    const auto* request = static_cast<QContextMenuEvent*>(event);
    if (watched == m_preview) {
      Open(m_preview->mapTo(m_window, request->pos()));
      return true;
    }
    // The Menu key over a control that has no menu of its own reaches the
    // window; a right click beside the preview opens nothing.
    if (watched == m_window && request->reason() == QContextMenuEvent::Keyboard) {
      OpenFromKeyboard();
      return true;
    }
  }
  return false;
}

void OpenPresetMenu(QWidget* label, const std::function<void(Qt::MouseButton)>& apply) {
  auto* menu = new QMenu(label);
  menu->setObjectName(QStringLiteral("presetMenu"));
  menu->setAccessibleName(QStringLiteral("Size presets"));
  menu->setAccessibleDescription(QStringLiteral("What a left or a right click on the X fills in"));
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->addAction(QStringLiteral("&800 x 400 (left click on X)"), label, [apply] { apply(Qt::LeftButton); });
  menu->addAction(QStringLiteral("&0 x 0, sources decide (right click on X)"), label,
                  [apply] { apply(Qt::RightButton); });
  menu->popup(label->mapToGlobal(QPoint(0, label->height())));
}

}  // namespace pictovance
