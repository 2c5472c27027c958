// The main window's tests' set-up: the main window over a start folder's data module, opened
// the way each test needs it, and its teardown, which keeps a failed test's folder.
#pragma once

#include <QDebug>
#include <QtTest>
#include <memory>

#include "app/kj_util.h"
#include "app/main_form.h"
#include "app_fixture.h"

namespace kjapptest {

// How the main window comes up: hidden or shown, or as the program's main window (told of
// tables found short after each action), shown or shown and active.
enum class FormUp { Hidden, Shown, MainShown, MainActive };

// The main window over the data module and the start folder, with AB as the update
// initials and the responder cleared of what its start did not ask; false when no window
// came up or it did not become active as asked.
inline bool OpenMainForm(std::unique_ptr<kj::TKJSagerForm>& form, kj::TKJData& data,
                         const StartFolder& sf, kjqt::ScriptedResponder& responder, FormUp up) {
    form.reset(kj::TKJSagerForm::FormCreate(data, "T3=" + sf.start, nullptr));
    if (!form) {
        qWarning() << "no main window:" << responder.Texts();
        return false;
    }
    if (up == FormUp::MainShown || up == FormUp::MainActive) kj::SetMainWindow(form.get());
    if (up != FormUp::Hidden) form->show();
    if (up == FormUp::MainActive) {
        form->activateWindow();
        if (!QTest::qWaitForWindowActive(form.get())) {
            qWarning() << "the main window did not become active";
            return false;
        }
    }
    data.AjourInitials = "AB";
    responder.Clear();
    return true;
}

// Ends the main window (no longer the program's), the data module and the tables, and
// removes the start folder unless the test failed.
inline void CloseMainForm(std::unique_ptr<kj::TKJSagerForm>& form,
                          std::unique_ptr<kj::TKJData>& data, std::unique_ptr<StartFolder>& sf) {
    if (kj::MainWindow() == form.get()) kj::SetMainWindow(nullptr);
    form.reset();
    CloseDataModule(data);
    if (sf) sf->KeepIfFailed();
    sf.reset();
}

}  // namespace kjapptest
