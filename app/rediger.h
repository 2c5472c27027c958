// The built-in editor TRetForm: a document (plain text, or RTF shown formatted) in a text
// control with find, replace, go to line, print, font, the Ascii -> Ansi repair and save;
// EditFile edits a document (or hands it to an external program), ViewFile shows one
// read-only. Each call creates, shows modally and frees its window. GUI thread.
#pragma once

#include <QDialog>
#include <string>

class QAction;
class QCheckBox;
class QLabel;
class QMenuBar;
class QLineEdit;
class QPushButton;
class QTextEdit;

namespace kj {

// The find dialog and, with the replacement row, the replace dialog (searching down; no
// case, word or direction options). Modeless; its buttons call the editor.
class TFindDialog : public QDialog {
  public:
    TFindDialog(QWidget* parent, bool replace);
    QLineEdit* FindText;
    QLineEdit* ReplaceText = nullptr;
    QCheckBox* ReplaceAll = nullptr;
    QPushButton* FindBtn;
    QPushButton* ReplaceBtn = nullptr;
};

class TRetForm : public QDialog {
  public:
    explicit TRetForm(QWidget* parent = nullptr);
    ~TRetForm() override;

    QTextEdit* Rediger;
    QLabel* RedigerBar;
    QAction *MPGemFil, *MPFindTekst, *MPErstatTekst, *MPHop, *MPUdskrivFil, *MPSkrift, *mpKonverter,
        *MPAfslut, *MHelp;
    TFindDialog* FindTekstDlg;
    TFindDialog* ErstatTekstDlg;

    std::string FileName;
    bool Modified = false;
    bool Busy = false, AbortFlag = false;
    QString SearchText, ReplaceText;
    bool ReplaceMode = false, ReplaceAllFlag = false;
    int TextLimit = 32767;

    // Loads the document; false (the control empty) when it cannot be read.
    bool LoadFile(const std::string& fileName, bool lineFallback);
    void RedigerSelectionChange();
    void MPGemFilClick();
    void MPFindTekstClick();
    void MPErstatTekstClick();
    void FindTekstDlgFind();
    void ErstatTekstDlgReplace();
    // The search step: from the end of the selection; the position found or -1.
    int SearchStep();
    void MPHopClick();
    void MPUdskrivFilClick();
    void MPSkriftClick();
    void mpKonverterClick();
    // The close question; true when the window may close.
    bool FormCloseQuery();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildMenu();
    void RedigerChange();
    bool FindWithWrap();
    QMenuBar* menuBar_ = nullptr;
    bool closing_ = false;
    bool loading_ = false;
};

namespace Rediger {
void EditFile(const std::string& program, const std::string& caption, const std::string& fileName);
void ViewFile(const std::string& caption, const std::string& fileName);
// The editor window being shown (nullptr when none).
TRetForm* Current();
}  // namespace Rediger

}  // namespace kj
