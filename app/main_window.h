// frmMain, the program's only window: fourteen controls at fixed pixel
// positions, the routing of every user action to the operations of the core,
// and the Form through which those operations read and write the window.
//
// The window holds the form state and nothing else of the program's logic;
// each handler forwards to one operation. Exceptions never leave a handler:
// an image error from a command is shown in the status line, in a few words,
// with the whole message in the line's tooltip until the next command.
//
// What it does not promise: any layout logic (no control moves or changes
// size), or that the preview's inner size equals 400 x 300 (its border takes
// two pixels on each side).
#pragma once

#include <QFont>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "app/drop_targets.h"
#include "canvas/history.h"
#include "generator/form.h"
#include "generator/random.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTextEdit;

namespace pictovance {

class CommandMenu;
class FullSizeView;
class PreviewArea;
class ReleaseLabel;
class SourceImport;

// Tahoma 9.75 pt where installed, else the nearest sans-serif at that size.
QFont WindowFont();

class MainWindow : public QWidget, public Form {
  Q_OBJECT

 public:
  // The client area, in pixels.
  static constexpr int kClientWidth = 481;
  static constexpr int kClientHeight = 332;

  // rng draws what never decides a picture (the digits of file names, the
  // About chance at start-up); each picture is painted from a seed of its
  // own, taken from the window's clock-seeded sequence of picture seeds.
  // programFolder is the folder that holds the program, which decides where
  // saved pictures go (desktop/results_folder.h).
  MainWindow(Random& rng, std::filesystem::path programFolder, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The window's part of start-up, in this order: the title, showing the
  // window, one round of events, the focus on Randomize, in one start of
  // five the About panel with About as the default button, the preview
  // background colour, and Set with the design size.
  void Start();

  FormState& State() { return m_state; }
  // Where Save writes now, and what the results-folder button opens.
  std::filesystem::path ResultsFolder() const;

  // The button that Enter clicks when no command button has the focus.
  QPushButton* DefaultButton() const { return m_defaultButton; }
  void SetDefaultButton(QPushButton* button);

  // The preview background colour, read from the preview's own background
  // and kept in its tag as decimal 0x00BBGGRR text.
  void RecordPreviewBackground();

  // The commands, as the controls start them.
  void Randomize();
  void SaveResult();
  void ApplySize();
  void OpenResultsFolder();
  void LoadDrop(const DroppedFileList& files);
  void ApplyPresetButton(Qt::MouseButton button);
  // Alt+Left and Alt+Right: the previous or next picture painted again.
  void ShowPrevious();
  void ShowNext();

  // The commands around the controls (app/window_menu.h lists them with
  // their keys): the full-size view, the picture to the clipboard, source
  // pictures from a file dialog or the clipboard, the size presets.
  void ViewFullSize();
  void CopyPicture();
  void OpenSources();
  void PasteSources();
  void ShowPresetMenu();
  // The wallpaper commands (app/wallpaper_actions.h): the picture shown, or
  // a new one at the screen's size, saved into Wallpapers and set.
  void SetWallpaper();
  void PaintWallpaper();

  SourceImport& Import() const { return *m_import; }
  CommandMenu& Commands() const { return *m_commands; }
  // Null until the full-size view is first opened.
  FullSizeView* FullView() const { return m_fullView; }

  // Form.
  bool SpecialEffectsTicked() const override;
  void SetStatus(std::string_view text) override;
  void ShowError(const ImageError& error) override;
  void ProcessEvents() override;
  bool AboutVisible() const override;
  void ToggleAbout() override;
  double PreviewScaleWidth() const override;
  double PreviewScaleHeight() const override;
  std::string PreviewTag() const override;
  void ShowPicture(const Picture& picture) override;
  std::string FileCountTag() const override;
  void SetFileCountCaption(std::string_view text) override;
  void SetResolutionCaption(std::string_view text) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildControls();
  void CentreOnScreen();
  void ConnectControls();
  void NormaliseField(QLineEdit* field);
  // Every command starts here: the last error's tooltip is gone.
  void BeginCommand();
  // Runs one operation of the core; an error it raises is shown in the
  // status line instead of leaving the event handler.
  void RunGuarded(const std::function<void()>& operation);

  FormState m_state;
  Random& m_rng;
  // Picture k of this window has the seed PictureSeed(m_sessionSeed, k).
  std::uint64_t m_sessionSeed;
  std::uint64_t m_picturesPainted = 0;
  PictureHistory m_history;
  std::filesystem::path m_programFolder;

  QPushButton* m_cmdHLP = nullptr;
  QLineEdit* m_txtW = nullptr;
  QLineEdit* m_txtH = nullptr;
  PreviewArea* m_picPreview = nullptr;
  QPushButton* m_cmdRND = nullptr;
  QPushButton* m_cmdSAV = nullptr;
  QPushButton* m_cmdDIR = nullptr;
  QPushButton* m_cmdCLR = nullptr;
  QLabel* m_lblFilecnt = nullptr;
  QLabel* m_lblRes = nullptr;
  ReleaseLabel* m_lblLW = nullptr;
  QTextEdit* m_txtHLP = nullptr;
  QLabel* m_lblWait = nullptr;
  QCheckBox* m_chkYOBA = nullptr;

  QPushButton* m_defaultButton = nullptr;
  DropTargets* m_dropTargets = nullptr;
  SourceImport* m_import = nullptr;
  CommandMenu* m_commands = nullptr;
  FullSizeView* m_fullView = nullptr;
  bool m_placed = false;
  bool m_centredInFrame = false;
};

}  // namespace pictovance
