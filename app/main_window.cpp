#include "app/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMoveEvent>
#include <QPushButton>
#include <QScreen>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QUrl>
#include <exception>
#include <new>
#include <optional>

#include "app/accessibility.h"
#include "app/clipboard.h"
#include "app/full_size_view.h"
#include "app/source_import.h"
#include "app/status_errors.h"
#include "app/tool_tips.h"
#include "app/wallpaper_actions.h"
#include "app/widgets.h"
#include "app/window_menu.h"
#include "canvas/about_text.h"
#include "canvas/save.h"
#include "canvas/size_fields.h"
#include "canvas/sources.h"
#include "desktop/results_folder.h"
#include "generator/preview.h"

// Q_INIT_RESOURCE must be used outside any namespace; the icons live in a
// static library, whose resource registration the linker would otherwise
// leave out.
static void InitAppResources() { Q_INIT_RESOURCE(pictovance); }

namespace pictovance {

namespace {

// The tag of a control: a free text slot, kept as a dynamic property.
constexpr char kTag[] = "tag";

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString FromLatin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Mouse button codes of the preset label: 1 left, 2 right, 4 middle.
int ButtonCode(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton:
      return 1;
    case Qt::RightButton:
      return 2;
    case Qt::MiddleButton:
      return 4;
    default:
      return 0;
  }
}

}  // namespace

QFont WindowFont() {
  QFont font(QStringLiteral("Tahoma"));
  // Tahoma first; DejaVu Sans Condensed and Liberation Sans come closest in
  // width where it is missing, and the style hint catches any other system.
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans Condensed"),
                    QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("Verdana"),
                    QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(9.75);
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  return font;
}

MainWindow::MainWindow(Random& rng, std::filesystem::path programFolder, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_rng(rng),
      m_sessionSeed(ClockSeed()),
      m_programFolder(std::move(programFolder)) {
  InitAppResources();
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QStringLiteral("Pictovance"));
  setFixedSize(kClientWidth, kClientHeight);
  // The drawing the desktop entry installs, for every size the platform
  // asks for; the small bitmaps of the same drawing where Qt cannot read SVG.
  QIcon icon(QStringLiteral(":/icons/pictovance.svg"));
  for (const int side : {16, 32, 48}) {
    icon.addFile(QStringLiteral(":/icons/pictovance-%1.png").arg(side), QSize(side, side));
  }
  setWindowIcon(icon);

  BuildControls();
  ConnectControls();
  DescribeControls(this);
  (new ToolTips(this))->Watch(this);
  m_import = new SourceImport(*this);
  m_commands = new CommandMenu(this, m_picPreview, WindowCommands(*this));

  CentreOnScreen();
}

void MainWindow::CentreOnScreen() {
  const QScreen* screen = this->screen();
  if (screen == nullptr) return;
  QRect frame = frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  move(frame.topLeft());
}

void MainWindow::showEvent(QShowEvent* event) {
  // The screen is known once the window exists: centre it again then.
  if (!m_placed) {
    m_placed = true;
    CentreOnScreen();
  }
  QWidget::showEvent(event);
}

void MainWindow::moveEvent(QMoveEvent* event) {
  // A window manager adds its frame only after the window is shown, and
  // moves the window into it: until then the window was centred without
  // the frame, so the framed window would sit half a title bar low. Centre
  // once more on the first move that shows a frame.
  if (m_placed && !m_centredInFrame && frameGeometry() != geometry()) {
    m_centredInFrame = true;
    CentreOnScreen();
  }
  QWidget::moveEvent(event);
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildControls() {
  const QFont font = WindowFont();
  setFont(font);
  const QColor face = palette().color(QPalette::Button);
  const auto faceBackground = [&face](QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, face);
    palette.setColor(QPalette::Window, face);
    widget->setPalette(palette);
  };
  const auto place = [&font](QWidget* widget, const char* name, int left, int top, int width, int height,
                             const QString& toolTip) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(left, top, width, height);
    widget->setFont(font);
    if (!toolTip.isEmpty()) widget->setToolTip(toolTip);
  };
  const auto button = [this, &place](const char* name, const char* caption, int top, const char* toolTip) {
    auto* widget = new QPushButton(QString::fromLatin1(caption), this);
    place(widget, name, 412, top, 63, 31, QString::fromLatin1(toolTip));
    widget->setAutoDefault(false);  // Enter is routed by the window itself
    return widget;
  };
  const auto field = [this, &place, &faceBackground](const char* name, const char* text, int top,
                                                     const char* toolTip) {
    auto* widget = new QLineEdit(QString::fromLatin1(text), this);
    place(widget, name, 412, top, 65, 19, QString::fromLatin1(toolTip));
    widget->setMaxLength(4);
    widget->setAlignment(Qt::AlignCenter);
    faceBackground(widget);
    return widget;
  };
  const auto label = [&place](QLabel* widget, const char* name, const char* text, int left, int top,
                              int width, int height, const QString& toolTip) {
    widget->setText(QString::fromLatin1(text));
    widget->setTextFormat(Qt::PlainText);
    widget->setAlignment(Qt::AlignCenter);
    place(widget, name, left, top, width, height, toolTip);
    return widget;
  };

  // Created in tab order, which is also the stacking order: the About text
  // is made after the preview and so lies over it.
  m_cmdHLP = button("cmdHLP", "INF", 8, "About");
  m_txtW = field("txtW", "800", 60, "Resulting width");
  m_txtH = field("txtH", "400", 92, "Resulting height");

  m_picPreview = new PreviewArea(this);
  place(m_picPreview, "picPreview", 6, 6, 400, 300, QString());
  faceBackground(m_picPreview);
  m_picPreview->setProperty(kTag, QString());

  m_cmdRND = button("cmdRND", "RND", 190, "Randomize");
  m_cmdSAV = button("cmdSAV", "SAV", 276, "Save current image && generate new one");
  m_cmdDIR = button("cmdDIR", "DIR", 240, "Open results folder");
  m_cmdCLR = button("cmdCLR", "SET", 140, "Define new resolution (also reset existing content)");

  m_lblFilecnt = label(new QLabel(this), "lblFilecnt", "Files loaded: 0", 8, 312, 156, 16, QString());
  m_lblFilecnt->setProperty(kTag, QStringLiteral("Files loaded: "));
  m_lblRes = label(new QLabel(this), "lblRes", "9999x9999", 404, 116, 84, 20,
                   QStringLiteral("Current resolution. Click \"Set\" to change."));
  m_lblLW = new ReleaseLabel(this);
  label(m_lblLW, "lblLW", "X", 432, 78, 25, 17, QString());

  m_txtHLP = new QTextEdit(this);
  place(m_txtHLP, "txtHLP", 6, 6, 400, 300,
        QStringLiteral("One lonely portrait covers the lovestarved canvas"));
  m_txtHLP->setReadOnly(true);
  m_txtHLP->setAcceptRichText(false);
  m_txtHLP->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
  faceBackground(m_txtHLP);
  faceBackground(m_txtHLP->viewport());
  m_txtHLP->hide();

  m_lblWait = label(new QLabel(this), "lblWait", "", 168, 312, 238, 16, QString());

  m_chkYOBA = new QCheckBox(QStringLiteral("YOBA"), this);
  place(m_chkYOBA, "chkYOBA", 414, 310, 61, 19, QStringLiteral("TURNS SPECIAL EFFEX TO MAXIMUM !11"));
  m_chkYOBA->setChecked(true);

  QWidget* const order[] = {m_cmdHLP, m_txtW,       m_txtH,   m_picPreview, m_cmdRND, m_cmdSAV,  m_cmdDIR,
                            m_cmdCLR, m_lblFilecnt, m_lblRes, m_lblLW,      m_txtHLP, m_lblWait, m_chkYOBA};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) QWidget::setTabOrder(order[i], order[i + 1]);

  SetDefaultButton(m_cmdRND);
}

void MainWindow::ConnectControls() {
  connect(m_cmdRND, &QPushButton::clicked, this, [this] { Randomize(); });
  connect(m_picPreview, &PreviewArea::Released, this, [this](Qt::MouseButton button) {
    if (button == Qt::LeftButton) Randomize();
  });
  connect(m_cmdHLP, &QPushButton::clicked, this, [this] {
    BeginCommand();
    ToggleAbout();
  });
  connect(m_cmdCLR, &QPushButton::clicked, this, [this] { ApplySize(); });
  connect(m_txtW, &QLineEdit::textChanged, this, [this] { NormaliseField(m_txtW); });
  connect(m_txtH, &QLineEdit::textChanged, this, [this] { NormaliseField(m_txtH); });
  connect(m_lblLW, &ReleaseLabel::Released, this,
          [this](Qt::MouseButton button) { ApplyPresetButton(button); });
  connect(m_cmdSAV, &QPushButton::clicked, this, [this] { SaveResult(); });
  connect(m_cmdDIR, &QPushButton::clicked, this, [this] { OpenResultsFolder(); });

  m_dropTargets = new DropTargets([this](const DroppedFileList& files) { LoadDrop(files); }, this);
  for (QWidget* target :
       std::initializer_list<QWidget*>{this, m_picPreview, m_txtHLP, m_txtW, m_txtH, m_lblWait, m_lblLW,
                                       m_lblRes, m_lblFilecnt, m_cmdCLR, m_cmdHLP, m_cmdRND, m_cmdSAV}) {
    m_dropTargets->Load(target);
  }
  // The check box takes no drops. The results-folder button neither: a file
  // let go over "Open results folder" looks like a request to put it there,
  // which the program does not do, so the drag is visibly turned away.
  m_dropTargets->Refuse(m_chkYOBA);
  m_dropTargets->Refuse(m_cmdDIR);
}

void MainWindow::Start() {
  setWindowTitle(FromLatin1(ProgramTitle()));
  show();
  QCoreApplication::processEvents();
  m_cmdRND->setFocus();
  if (m_rng.Chance(0.2)) {
    ToggleAbout();
    SetDefaultButton(m_cmdHLP);
  }
  RecordPreviewBackground();
  ApplySize();
}

void MainWindow::SetDefaultButton(QPushButton* button) {
  if (m_defaultButton != nullptr) m_defaultButton->setDefault(false);
  m_defaultButton = button;
  if (m_defaultButton != nullptr) m_defaultButton->setDefault(true);
}

void MainWindow::RecordPreviewBackground() {
  const QColor colour = m_picPreview->palette().color(m_picPreview->backgroundRole());
  const long value = colour.red() + 256L * colour.green() + 65536L * colour.blue();
  m_picPreview->setProperty(kTag, QString::number(value));
}

void MainWindow::BeginCommand() { m_lblWait->setToolTip(QString()); }

void MainWindow::RunGuarded(const std::function<void()>& operation) {
  BeginCommand();
  const bool wasBusy = m_state.Busy;
  std::optional<ImageError> failure;
  try {
    operation();
    return;
  } catch (const ImageError& error) {
    failure = error;
  } catch (const std::bad_alloc&) {
    failure = ImageError(kErrorOutOfMemory, "Not enough memory");
  } catch (const std::exception& error) {
    failure = ImageError(0, error.what());
  }
  // An operation that took Busy and then failed must not leave the window
  // locked: no command would run again and the window could not be closed.
  if (!wasBusy) m_state.Busy = false;
  ShowError(*failure);
}

void MainWindow::Randomize() {
  RunGuarded([this] { m_history.PaintNew(m_state, *this, PictureSeed(m_sessionSeed, m_picturesPainted++)); });
}

std::filesystem::path MainWindow::ResultsFolder() const { return ResultsFolderFor(m_programFolder); }

void MainWindow::SaveResult() {
  RunGuarded([this] {
    const std::filesystem::path folder = ResultsFolder();
    // The pictures folder is made by the first Save that writes into it.
    if (!m_state.Busy && m_state.Result) MakeResultsFolder(folder);
    Save(m_state, *this, m_rng, folder,
         [this] { m_history.PaintNew(m_state, *this, PictureSeed(m_sessionSeed, m_picturesPainted++)); });
  });
}

void MainWindow::ShowPrevious() {
  RunGuarded([this] { m_history.Back(m_state, *this); });
}

void MainWindow::ShowNext() {
  RunGuarded([this] { m_history.Forward(m_state, *this); });
}

void MainWindow::ApplySize() {
  RunGuarded([this] { Set(m_state, *this, m_txtW->text().toStdString(), m_txtH->text().toStdString()); });
}

void MainWindow::OpenResultsFolder() {
  BeginCommand();
  const std::filesystem::path folder = ResultsFolder();
  // Made here too, so that the button opens the folder before the first
  // Save. A folder that cannot be made, or no program to show it, is said
  // in the status line as a failed Save is.
  try {
    MakeResultsFolder(folder);
  } catch (const ImageError& error) {
    ShowError(error);
    return;
  }
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder.string())))) {
    ShowError(FolderNotOpened(folder.string()));
  }
}

void MainWindow::ViewFullSize() {
  BeginCommand();
  if (!m_state.Result) {
    SetStatus("Nothing to show");
    return;
  }
  if (m_fullView == nullptr) m_fullView = new FullSizeView(this);
  m_fullView->Open(m_state.Result->GetPicture());
}

void MainWindow::CopyPicture() {
  BeginCommand();
  if (!m_state.Result) {
    SetStatus("Nothing to copy");
    return;
  }
  CopyPictureToClipboard(m_state.Result->GetPicture());
}

void MainWindow::OpenSources() {
  BeginCommand();
  m_import->OpenFiles();
}

void MainWindow::PasteSources() {
  BeginCommand();
  m_import->Paste(QGuiApplication::clipboard()->mimeData());
}

void MainWindow::SetWallpaper() {
  RunGuarded([this] {
    const WallpaperReport report = SetShownAsWallpaper(m_state, *this, m_rng, ResultsFolder());
    m_lblWait->setToolTip(QString::fromStdString(report.details));
  });
}

void MainWindow::PaintWallpaper() {
  RunGuarded([this] {
    const WallpaperReport report = PaintNewWallpaper(
        m_state, *this, m_history, PictureSeed(m_sessionSeed, m_picturesPainted++), m_rng, ResultsFolder());
    m_lblWait->setToolTip(QString::fromStdString(report.details));
  });
}

void MainWindow::ShowPresetMenu() {
  OpenPresetMenu(m_lblLW, [this](Qt::MouseButton button) { ApplyPresetButton(button); });
}

void MainWindow::LoadDrop(const DroppedFileList& files) {
  RunGuarded([this, &files] {
    // A file that was not loaded says why once the drop is over.
    if (const auto refused = LoadDroppedFiles(m_state, *this, files)) ShowError(*refused);
  });
}

void MainWindow::ApplyPresetButton(Qt::MouseButton button) {
  BeginCommand();
  std::string width = m_txtW->text().toStdString();
  std::string height = m_txtH->text().toStdString();
  ApplyPreset(ButtonCode(button), width, height);
  m_txtW->setText(QString::fromStdString(width));
  m_txtH->setText(QString::fromStdString(height));
}

void MainWindow::NormaliseField(QLineEdit* field) {
  const std::string text = field->text().toStdString();
  const std::string normal = NormaliseFieldText(text);
  // Only a real change is written back, so the change it causes ends here.
  if (normal != text) field->setText(QString::fromStdString(normal));
}

bool MainWindow::SpecialEffectsTicked() const { return m_chkYOBA->checkState() == Qt::Checked; }

void MainWindow::SetStatus(std::string_view text) { ShowStatusText(m_lblWait, FromUtf8(text)); }

void MainWindow::ShowError(const ImageError& error) {
  // The tooltip first: the announcement of the line reads it as well.
  m_lblWait->setToolTip(FullErrorText(error));
  ShowStatusText(m_lblWait, ShortErrorText(error));
}

void MainWindow::ProcessEvents() { QCoreApplication::processEvents(); }

bool MainWindow::AboutVisible() const { return !m_txtHLP->isHidden(); }

void MainWindow::ToggleAbout() {
  if (m_state.Busy) return;
  const bool open = m_txtHLP->isHidden();
  m_txtHLP->setVisible(open);
  m_picPreview->setVisible(!open);
  if (!open) return;
  QString text = FromLatin1(AboutText());
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  m_txtHLP->setPlainText(text);
  QTextCursor cursor(m_txtHLP->document());
  cursor.select(QTextCursor::Document);
  QTextBlockFormat centred;
  centred.setAlignment(Qt::AlignHCenter);
  cursor.mergeBlockFormat(centred);
}

double MainWindow::PreviewScaleWidth() const { return m_picPreview->contentsRect().width(); }

double MainWindow::PreviewScaleHeight() const { return m_picPreview->contentsRect().height(); }

std::string MainWindow::PreviewTag() const { return m_picPreview->property(kTag).toString().toStdString(); }

void MainWindow::ShowPicture(const Picture& picture) {
  // The preview is composed from the result, which the core has just set.
  const bool shown = !picture.IsNull() && m_state.Result;
  const Picture full = shown ? m_state.Result->GetPicture() : Picture();
  Colour background = 0;
  try {
    background = ColourFromTag(PreviewTag());
  } catch (const ImageError&) {
    // Not reached: the core composed this preview with the same colour.
  }
  m_picPreview->SetPicture(picture, full, background);
  m_picPreview->setAccessibleDescription(
      PreviewDescription(shown, full.Width(), full.Height(), shown ? m_state.SourceCount : 0));
  if (shown && m_fullView != nullptr && m_fullView->isVisible()) m_fullView->SetPicture(full);
}

std::string MainWindow::FileCountTag() const { return m_lblFilecnt->property(kTag).toString().toStdString(); }

void MainWindow::SetFileCountCaption(std::string_view text) { m_lblFilecnt->setText(FromUtf8(text)); }

void MainWindow::SetResolutionCaption(std::string_view text) { m_lblRes->setText(FromUtf8(text)); }

void MainWindow::closeEvent(QCloseEvent* event) {
  // Whatever asks (close box, keyboard, session end), a running generation
  // or import keeps the window.
  if (m_state.Busy) {
    event->ignore();
    return;
  }
  event->accept();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
    QWidget::keyPressEvent(event);
    return;
  }
  // Buttons take Enter only inside dialogs, so the window routes it: a
  // focused command button clicks itself, anything else clicks the default.
  auto* focused = qobject_cast<QPushButton*>(focusWidget());
  QPushButton* target = focused != nullptr ? focused : m_defaultButton;
  if (target != nullptr && target->isEnabled()) target->click();
  event->accept();
}

}  // namespace pictovance
