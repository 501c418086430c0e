// The clipboard, both ways: the files a copy in a file manager, a browser
// or a terminal puts there, and the full-size picture copied out.
//
// What it does not promise: files that exist (the import skips those that
// fail, as for a drop), or a picture of every format the clipboard can
// carry (only what Qt's own image conversion reads).
#pragma once

#include <QImage>

#include "app/drop_targets.h"
#include "imaging/image.h"

class QMimeData;

namespace pictovance {

// The local files the data names, in its order: its URLs, GNOME's list of
// copied files, or a text of nothing but absolute paths of existing files
// and file URLs, one a line. nullopt when it names none.
DroppedFileList ClipboardFiles(const QMimeData* data);

// The picture the data holds (a copied picture), or a null image.
QImage ClipboardPicture(const QMimeData* data);

// Puts the picture, at full size, on the clipboard.
void CopyPictureToClipboard(const Picture& picture);

}  // namespace pictovance
