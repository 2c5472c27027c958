// The widget behind the engine's message window (TzMsg::TTzMsg): a yellow, always-on-top
// window with one line of text, borderless with a 2-pixel raised frame, or with a title bar
// when it has a caption. Made, shown and freed by the engine through the procedures that
// InstallMsgWindowProcs installs. GUI thread only.
#pragma once

#include <QPointer>
#include <QWidget>

class QFrame;
class QLabel;

namespace kjqt {

class TzMsgWindow : public QWidget {
  public:
    // over: the window to centre on (the active window when the engine makes one); none
    // centres on the screen.
    explicit TzMsgWindow(QWidget* over);

    // Lays the window out for caption and text, grows and re-centres it when it is too
    // small or its frame changed, shows it, paints the text at once and lets waiting
    // events through. An empty text keeps the previous one.
    void ShowText(const QString& caption, const QString& text);

    QString Text() const;
    QFrame* FramePanel() const { return frame_; }
    QLabel* TextPanel() const { return label_; }

  private:
    QFrame* frame_;
    QLabel* label_;
    QPointer<QWidget> over_;
    QString text_;
    bool laidOut_ = false;
    bool captioned_ = false;
};

// Makes TzMsgWindow the widget of every TzMsg::TTzMsg made from now on.
void InstallMsgWindowProcs();

}  // namespace kjqt
