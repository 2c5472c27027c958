// The progress window of the dataset components (TzDs::TTzProgress100) on screen: a
// TzMsgWindow with the caption and the bar of "|" characters, and the components' message
// route through the dialog service. InstallProgressProcs installs both; GUI thread only.
#pragma once

#include <QPointer>
#include <memory>
#include <string>

#include "data/tz_messages.h"

namespace kjqt {

class TzMsgWindow;

// One progress window; made when the component's progress starts and freed when it ends.
class TzProgressView : public TzDs::ProgressView {
  public:
    TzProgressView();
    ~TzProgressView() override;
    void Show(const std::string& caption, const std::string& text) override;
    void SetText(const std::string& text) override;
    TzMsgWindow* Window() const { return window_; }

  private:
    QPointer<TzMsgWindow> window_;
    std::string caption_;
};

// A view for the current application (none without a widget application).
std::unique_ptr<TzDs::ProgressView> MakeProgressView();

// Makes TzProgressView the components' progress window and shows their messages (the
// library texts at message level 2) as OK boxes of the dialog service.
void InstallProgressProcs();

}  // namespace kjqt
