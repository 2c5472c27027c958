// The application object: exceptions never cross Qt's event loop. Whatever an event handler
// throws ends in notify(), which shows engine and database errors in a message box (through
// the dialog service) and swallows the silent abort. ShowException is also the dataset
// model's application exception handler. It also loads Qt's own Danish texts, so Qt's
// dialogs and standard buttons speak Danish like the rest of the program, and runs the
// program's after-event routine once each outermost event has been handled. GUI thread.
#pragma once

#include <QApplication>
#include <QTranslator>
#include <exception>
#include <utility>

namespace kjqt {

// Shows an exception the way the application does: the silent abort shows nothing; any
// other error shows its message (Windows-1252) with a stop icon, captioned with the
// application's name.
void ShowException(std::exception_ptr e);

// Runs body; whatever it throws is shown as above and answers false.
template <class F>
bool Guarded(F&& body) {
    try {
        std::forward<F>(body)();
        return true;
    } catch (...) {
        ShowException(std::current_exception());
        return false;
    }
}

class KjApplication : public QApplication {
  public:
    KjApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
    // Runs `after` each time the handling of an event is complete with no other event's
    // handling under way (so no engine operation either): what the user did has returned.
    // The program tells there what the engine noted meanwhile. Null: nothing (the default).
    static void SetAfterEvent(void (*after)());

  private:
    void AfterEvent();

    QTranslator qtTexts_;  // Qt's own texts in Danish (qtbase_da)
    int depth_ = 0;        // events being handled, one inside another
    bool after_ = false;   // the after-event routine is running (its own boxes' events)
};

}  // namespace kjqt
