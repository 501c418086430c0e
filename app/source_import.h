// Source pictures without dragging: a file dialog (Ctrl+O) and the
// clipboard (Ctrl+V). Both hand their files to the drop's own import
// (MainWindow::LoadDrop, LoadDroppedFiles), so the rules, the counter, the
// falling dots and the Busy guard are those of a drop.
//
// A picture pasted without a file (copied in a browser or an image editor)
// is written to a private temporary PNG file and imported from there; its
// entry in the recipe is then the SHA-256 of its pixels rather than of that
// short-lived file, so that pictovance-render --again finds it again in any
// file holding the same pixels.
//
// What it does not promise: that a picture the clipboard offers in a
// format Qt cannot read arrives (nothing is imported then, as for a file
// that fails in a drop).
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QImage;
class QMimeData;
class QWidget;

namespace pictovance {

class MainWindow;

class SourceImport : public QObject {
  Q_OBJECT

 public:
  // Asks the user for files; empty when nothing was chosen.
  using Chooser = std::function<QStringList(QWidget* parent, const QString& folder)>;

  explicit SourceImport(MainWindow& window);

  // Ctrl+O: the chosen files, imported as one drop. Nothing while Busy.
  void OpenFiles();
  // Ctrl+V: the clipboard's files as one drop, else its picture; "Nothing
  // to paste" in the status line when it holds neither.
  void Paste(const QMimeData* data);

  // The file dialog by default; tests put their own in its place.
  void SetChooser(Chooser chooser) { m_chooser = std::move(chooser); }

 private:
  void ImportPicture(const QImage& picture);

  MainWindow& m_window;
  Chooser m_chooser;
  QString m_folder;  // where the dialog opens: the folder of the last files chosen
};

}  // namespace pictovance
