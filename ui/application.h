// The application object: exceptions never cross Qt's event loop. Whatever an event handler
// throws ends in notify(), which shows engine and database errors in a message box (through
// the dialog service) and swallows the silent abort. ShowException is also the dataset
// model's application exception handler. It also loads Qt's own Danish texts, so Qt's
// dialogs and standard buttons speak Danish like the rest of the program. GUI thread.
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

  private:
    QTranslator qtTexts_;  // Qt's own texts in Danish (qtbase_da)
};

}  // namespace kjqt
