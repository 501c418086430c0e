// "View full size": the whole picture in a window of its own, either fitted
// to the window (made smaller, never larger) or at 100 % (one picture
// pixel on one screen pixel, device pixels on a HiDPI screen), with scroll
// bars wherever it is larger than the window. F fits it, 1 shows it at
// 100 %, the arrow and page keys and the mouse wheel scroll, Esc closes.
//
// The view holds a handle of the picture, never a copy; it follows the
// window's new pictures while it is open.
//
// What it does not promise: smooth scaling while the window is being
// resized (the fitted picture is scaled once per size).
#pragma once

#include <QDialog>

#include "imaging/image.h"

class QScrollArea;
class QToolButton;

namespace pictovance {

class PictureCanvas;

class FullSizeView : public QDialog {
  Q_OBJECT

 public:
  explicit FullSizeView(QWidget* parent);

  // Opens (or raises) the window with picture, fitted to the window.
  void Open(const Picture& picture);
  // Shows picture in place of the one shown, keeping the zoom.
  void SetPicture(const Picture& picture);

  bool FitsWindow() const { return m_fit; }
  void SetFitWindow(bool fit);
  // The scale the picture is drawn at now: 1 at 100 %.
  double Zoom() const;

 private:
  void Refresh();

  Picture m_picture;
  bool m_fit = true;
  PictureCanvas* m_canvas = nullptr;
  QScrollArea* m_scroll = nullptr;
  QToolButton* m_fitButton = nullptr;
  QToolButton* m_actualButton = nullptr;
};

}  // namespace pictovance
