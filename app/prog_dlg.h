// The small windows of start-up and long tasks: the progress window (one at a time), the
// splash window shown while the program starts, and the "Indexing..." window. Each shows
// itself modeless and lets pending messages through so it is painted at once. GUI thread.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QStatusBar;

namespace kj {

// Progress window. Invariants: 1. at most one exists (Current()); 2. the bar's step is
// Maximum div 25, at least 1.
class TProgressDialog : public QDialog {
  public:
    TProgressDialog(QWidget* owner, const std::string& caption,
                    const std::vector<std::string>& lines, int maximum);
    ~TProgressDialog() override;

    static TProgressDialog* Current();
    static void CloseCurrent();
    // Advances the bar by one step when position is a multiple of the step.
    void StepAt(int position);
    int Step() const { return step_; }
    int Position() const;
    bool Stopped() const { return stop_; }
    QPushButton* SlutBtn() const { return slutBtn_; }

  private:
    QLabel* progLbl_;
    QLabel* progLbl2_;
    QProgressBar* progBar_;
    QPushButton* slutBtn_;
    int step_ = 1;
    bool stop_ = false;
};

// Creates the one progress window (closing an earlier one) and shows it.
TProgressDialog* ShowProgress(QWidget* owner, const std::string& caption,
                              const std::vector<std::string>& lines, int maximum);
// Set by "Slut"; no operation of this system polls it.
bool StopRequested();

// Splash window: "Morvane Vaktor" with a status line.
class TOpstartForm : public QDialog {
  public:
    explicit TOpstartForm(QWidget* owner = nullptr);
    void SetStatusText(const std::string& text);
    std::string StatusText() const;

  private:
    QLabel* staticOpstart_;
    QStatusBar* statusOpstart_;
};

// The "Indexing..." window with the name of the index being built.
void ShowIndexing(const std::string& name);
void HideIndexing();
QDialog* IndexingDialog();

}  // namespace kj
