// TVisData: a modal window that shows lines of text (read-only) with a " Luk " button.
// The caller creates it, adds lines, shows it and frees it. GUI thread.
#pragma once

#include <QDialog>
#include <string>

class QPlainTextEdit;
class QPushButton;

namespace kj {

class TVisData : public QDialog {
  public:
    explicit TVisData(QWidget* parent = nullptr);
    // Appends one line (Windows-1252).
    void AddLine(const std::string& text);
    QPlainTextEdit* VisTekst;
    QPushButton* LukBtn;
};

}  // namespace kj
