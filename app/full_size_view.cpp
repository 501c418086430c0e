#include "app/full_size_view.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <utility>

#include "imaging/qt_bridge.h"

namespace pictovance {

// The picture, drawn fitted into the widget or at one picture pixel per
// device pixel; its size hint is the picture's size in logical pixels.
class PictureCanvas : public QWidget {
 public:
  explicit PictureCanvas(QWidget* parent) : QWidget(parent) {}

  void SetImage(const QImage& image) {
    m_image = image;
    m_scaled = QImage();
    updateGeometry();
    update();
  }
  void SetFit(bool fit) {
    m_fit = fit;
    update();
  }
  // Logical pixels per picture pixel at 100 %.
  double ActualScale() const { return 1.0 / devicePixelRatioF(); }
  QSize ActualSize() const {
    const double ratio = devicePixelRatioF();
    return QSize(static_cast<int>(std::ceil(m_image.width() / ratio)),
                 static_cast<int>(std::ceil(m_image.height() / ratio)));
  }
  // Picture pixels per device pixel as drawn now.
  double Zoom() const {
    if (m_image.isNull()) return 1.0;
    if (!m_fit) return 1.0;
    const double ratio = devicePixelRatioF();
    const double fit = std::min(width() * ratio / m_image.width(), height() * ratio / m_image.height());
    return std::min(1.0, fit);
  }
  QSize sizeHint() const override { return ActualSize(); }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (m_image.isNull()) return;
    QPainter painter(this);
    const double ratio = devicePixelRatioF();
    const QSize device(static_cast<int>(m_image.width() * Zoom()),
                       static_cast<int>(m_image.height() * Zoom()));
    if (device == m_image.size()) {
      QImage shown = m_image;
      shown.setDevicePixelRatio(ratio);
      painter.drawImage(Centred(shown.deviceIndependentSize().toSize()), shown);
      return;
    }
    // Scaled once per size, not on every paint: a big picture takes a
    // moment to shrink.
    if (m_scaled.isNull() || m_scaled.size() != device || m_scaled.devicePixelRatio() != ratio) {
      m_scaled =
          m_image.scaled(device.expandedTo(QSize(1, 1)), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
      m_scaled.setDevicePixelRatio(ratio);
    }
    painter.drawImage(Centred(m_scaled.deviceIndependentSize().toSize()), m_scaled);
  }

 private:
  QPoint Centred(QSize size) const {
    return QPoint(std::max(0, (width() - size.width()) / 2), std::max(0, (height() - size.height()) / 2));
  }

  QImage m_image;
  QImage m_scaled;
  bool m_fit = true;
};

FullSizeView::FullSizeView(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("fullSizeView"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setWindowFlag(Qt::WindowMaximizeButtonHint, true);
  setSizeGripEnabled(true);

  m_fitButton = new QToolButton(this);
  m_fitButton->setObjectName(QStringLiteral("fitWindow"));
  m_fitButton->setText(QStringLiteral("Fit to window (F)"));
  m_fitButton->setAccessibleName(QStringLiteral("Fit to window"));
  m_fitButton->setAccessibleDescription(
      QStringLiteral("Shows the whole picture, made smaller where needed (F)"));
  m_actualButton = new QToolButton(this);
  m_actualButton->setObjectName(QStringLiteral("actualSize"));
  m_actualButton->setText(QStringLiteral("100 % (1)"));
  m_actualButton->setAccessibleName(QStringLiteral("100 %"));
  m_actualButton->setAccessibleDescription(
      QStringLiteral("One picture pixel on each screen pixel; scroll with the arrow keys (1)"));
  for (QToolButton* button : {m_fitButton, m_actualButton}) {
    button->setCheckable(true);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::TabFocus);
  }
  connect(m_fitButton, &QToolButton::clicked, this, [this] { SetFitWindow(true); });
  connect(m_actualButton, &QToolButton::clicked, this, [this] { SetFitWindow(false); });

  m_canvas = new PictureCanvas(this);
  m_canvas->setObjectName(QStringLiteral("fullSizePicture"));
  m_canvas->setAccessibleName(QStringLiteral("Picture at full size"));
  m_scroll = new QScrollArea(this);
  m_scroll->setObjectName(QStringLiteral("fullSizeScroll"));
  m_scroll->setAlignment(Qt::AlignCenter);
  m_scroll->setWidget(m_canvas);
  m_scroll->setFocusPolicy(Qt::StrongFocus);
  m_scroll->setAccessibleName(QStringLiteral("Picture at full size"));

  auto* bar = new QHBoxLayout;
  bar->addWidget(m_fitButton);
  bar->addWidget(m_actualButton);
  bar->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addLayout(bar);
  layout->addWidget(m_scroll, 1);

  for (const auto& [key, fit] : {std::pair{Qt::Key_F, true}, std::pair{Qt::Key_1, false}}) {
    auto* shortcut = new QShortcut(QKeySequence(key), this);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(shortcut, &QShortcut::activated, this, [this, fit = fit] { SetFitWindow(fit); });
  }
}

void FullSizeView::Open(const Picture& picture) {
  const bool opening = !isVisible();
  m_fit = true;
  SetPicture(picture);
  if (opening) {
    // As large as the picture needs, within most of the screen.
    const QScreen* screen =
        parentWidget() != nullptr ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    QSize size = m_canvas->ActualSize() + QSize(40, 60);
    if (screen != nullptr) size = size.boundedTo(screen->availableGeometry().size() * 0.8);
    resize(size.expandedTo(QSize(320, 240)));
  }
  show();
  raise();
  activateWindow();
  m_scroll->setFocus();
}

void FullSizeView::SetPicture(const Picture& picture) {
  m_picture = picture;
  m_canvas->SetImage(ToQImage(picture));
  setWindowTitle(QStringLiteral("Pictovance: %1 x %2").arg(picture.Width()).arg(picture.Height()));
  Refresh();
}

void FullSizeView::SetFitWindow(bool fit) {
  m_fit = fit;
  Refresh();
}

double FullSizeView::Zoom() const { return m_canvas->Zoom(); }

void FullSizeView::Refresh() {
  m_fitButton->setChecked(m_fit);
  m_actualButton->setChecked(!m_fit);
  m_canvas->SetFit(m_fit);
  // Fitted, the picture follows the window; at 100 % it keeps its size and
  // the scroll area scrolls it.
  m_scroll->setWidgetResizable(m_fit);
  if (!m_fit) m_canvas->resize(m_canvas->ActualSize());
  m_scroll->setHorizontalScrollBarPolicy(m_fit ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
  m_scroll->setVerticalScrollBarPolicy(m_fit ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
  m_canvas->setAccessibleDescription(
      QStringLiteral("%1 by %2 pixels, %3")
          .arg(m_picture.Width())
          .arg(m_picture.Height())
          .arg(m_fit ? QStringLiteral("fitted to the window") : QStringLiteral("at 100 %")));
}

}  // namespace pictovance
