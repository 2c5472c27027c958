// The one dialog service: every message box, Yes/No question, input box and file or folder
// dialog of the program goes through DialogService::Instance(). Tests install a
// ScriptedResponder, which records each question and answers from a queue, so nothing ever
// waits for a human. With KJ_DIALOG_LOG naming a file, every dialog and its answer are also
// appended to that file, one line each (tab-separated, UTF-8). GUI thread only.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

namespace kjqt {

// Message box flags (button set | icon | default button) and answers, with the values the
// engine's ErrorBox and the application's calls use.
namespace mb {
inline constexpr unsigned kOk = 0x0, kOkCancel = 0x1, kAbortRetryIgnore = 0x2, kYesNoCancel = 0x3,
                          kYesNo = 0x4, kRetryCancel = 0x5;
inline constexpr unsigned kIconStop = 0x10, kIconQuestion = 0x20, kIconWarning = 0x30,
                          kIconInformation = 0x40;
inline constexpr unsigned kDefButton2 = 0x100, kDefButton3 = 0x200;
inline constexpr int kIdOk = 1, kIdCancel = 2, kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5,
                     kIdYes = 6, kIdNo = 7;
}  // namespace mb

enum class DialogKind { Message, Input, OpenFile, SaveFile, Folder };

struct DialogRequest {
    DialogKind kind = DialogKind::Message;
    QString caption;
    QString text;        // message or prompt; empty for file and folder dialogs
    unsigned flags = 0;  // message boxes
    QString value;       // input box: proposed value; file dialogs: starting folder or file
    QString filter;      // file dialogs, in Qt's "Text (*.txt);;All (*)" form
    // Save dialogs: the dialog itself asks before an existing file is chosen. Off where the
    // program asks its own question afterwards, so the user is asked once.
    bool confirmOverwrite = true;
};

struct DialogAnswer {
    int button = 0;  // message boxes: mb::kId...; input box: kIdOk or kIdCancel
    QString value;   // input text, or the chosen path (empty: cancelled)
};

class DialogResponder {
  public:
    virtual ~DialogResponder() = default;
    virtual DialogAnswer Respond(const DialogRequest& request) = 0;
};

// Answers from a queue and records every request. With the queue empty it gives the
// cancelling answer (No, Cancel, Abort, OK for a box with OK alone, an empty path) and
// counts the question as unanswered.
class ScriptedResponder : public DialogResponder {
  public:
    void Answer(int button);                // next message box answer
    void AnswerText(const QString& value);  // next input or path, accepted
    void AnswerCancel();                    // next input or file dialog cancelled
    DialogAnswer Respond(const DialogRequest& request) override;
    const std::vector<DialogRequest>& Asked() const { return asked_; }
    // The text of every request in order (the prompt of an input box, the caption of a
    // file or folder dialog).
    QStringList Texts() const;
    int Unanswered() const { return unanswered_; }
    int Pending() const { return static_cast<int>(queue_.size()); }
    void Clear();

  private:
    std::deque<DialogAnswer> queue_;
    std::vector<DialogRequest> asked_;
    int unanswered_ = 0;
};

// A widget application runs (a tool without windows has only a core application, or none).
bool HaveWidgets();

class DialogService {
  public:
    static DialogService& Instance();

    // nullptr returns to the real dialogs. The service does not own the responder.
    void SetResponder(DialogResponder* responder) { responder_ = responder; }
    DialogResponder* Responder() const { return responder_; }

    int MessageBox(const QString& text, const QString& caption, unsigned flags);
    // A message with OK alone, captioned with the application's name.
    void ShowMessage(const QString& text);
    // A Yes/No question; true on Yes.
    bool YesNo(const QString& text, const QString& caption, unsigned flags = mb::kIconQuestion);
    // A Yes/No/Cancel question: mb::kIdYes, kIdNo or kIdCancel.
    int YesNoCancel(const QString& text, const QString& caption,
                    unsigned flags = mb::kIconQuestion);
    // Asks for one line of text; value is changed only when the user accepts.
    bool InputBox(const QString& caption, const QString& prompt, QString& value);
    // The same as a function: Cancel gives the default.
    QString InputText(const QString& caption, const QString& prompt, const QString& def);
    // The chosen path, empty when cancelled.
    QString OpenFile(const QString& caption, const QString& start, const QString& filter);
    QString SaveFile(const QString& caption, const QString& start, const QString& filter,
                     bool confirmOverwrite = true);
    QString Folder(const QString& caption, const QString& start);

    // Makes the service the engine's error box (text and caption arrive as Windows-1252).
    void InstallAsErrorBox();

  private:
    DialogAnswer Ask(const DialogRequest& request);
    DialogAnswer Answer(const DialogRequest& request);
    static void LogRequest(const DialogRequest& request);
    static void LogAnswer(const DialogAnswer& answer);
    DialogResponder* responder_ = nullptr;
};

}  // namespace kjqt
