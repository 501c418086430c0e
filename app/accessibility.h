// What a screen reader learns about the window: a name and a description
// for every control (the captions INF, RND, SAV, DIR, SET and YOBA say
// little when read aloud), the preview as a picture whose description tells
// what it shows and whose actions do what the mouse does on it (paint, open
// the window's menu), and the status line, which is presented as the
// window's status bar and announces each message it shows.
//
// Captions, tooltips and the layout stay as they are; only what assistive
// technology reads is added.
//
// What it does not promise: that every screen reader speaks a message the
// moment it appears. Qt passes the change on (AT-SPI's name-changed event
// on Linux); whether it is read out at once is the reader's choice.
#pragma once

#include <QString>
#include <cstdint>

class QLabel;
class QWidget;

namespace pictovance {

// Names and describes the controls of frmMain (found by their names) and
// makes lblWait the window's status bar for assistive technology.
void DescribeControls(QWidget* window);

// The preview's description: no picture yet, or the picture's size and
// where its colours came from (0 sources: a random palette).
QString PreviewDescription(bool hasPicture, int width, int height, std::int32_t sources);

// Shows text in the status line; a message (not the progress dots, not the
// empty line) is announced.
void ShowStatusText(QLabel* statusLine, const QString& text);

}  // namespace pictovance
