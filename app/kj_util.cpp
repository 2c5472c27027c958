#include "app/kj_util.h"

#include <QApplication>
#include <QThread>
#include <QWidget>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "app/kj_text.h"
#include "app/prog_dlg.h"
#include "data/db_format.h"
#include "data/tz_user_text.h"
#include "storage/dbf4.h"
#include "storage/dbf_low.h"
#include "storage/num_text.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "ui/application.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"

namespace kj {

namespace {
QWidget* g_mainWindow = nullptr;
}  // namespace

int Sign(double x) {
    return x >= 0 ? 1 : -1;
}

int PosFrom(int start, const std::string& text, const std::string& pattern) {
    if (start < 1) start = 1;
    if (static_cast<size_t>(start) > text.size() + 1) return 0;
    const size_t p = text.find(pattern, static_cast<size_t>(start - 1));
    return p == std::string::npos ? 0 : static_cast<int>(p) + 1;
}

std::string IIf(bool flag, const std::string& a, const std::string& b) {
    return flag ? a : b;
}

char CharAt(const std::string& text, int i) {
    return i >= 1 && static_cast<size_t>(i) <= text.size() ? text[i - 1] : '\0';
}

char CharAtOrBlank(const std::string& text, int i) {
    if (text.empty() || i < 1 || static_cast<size_t>(i) > text.size()) return '\0';
    return text[i - 1] == '\0' ? ' ' : text[i - 1];
}

char FirstChar(const std::string& text) {
    if (text.empty()) return '\0';
    return text[0] == '\0' ? ' ' : text[0];
}

std::string CopyFrom(const std::string& text, int i) {
    if (i < 1) i = 1;
    return static_cast<size_t>(i) > text.size() ? std::string() : text.substr(i - 1);
}

std::string PostnrKey(const std::string& code) {
    return TzUtils::PadRightOrCut(TzUtils::TrimRight(code), 10);
}

std::string RemoveChar(const std::string& text, char c) {
    std::string r;
    for (char x : text)
        if (x != c) r.push_back(x);
    return r;
}

std::string ReplaceChar(const std::string& text, char from, char to) {
    std::string r = text;
    if (from == to) return r;
    for (char& x : r)
        if (x == from) x = to;
    return r;
}

std::string OemToAnsi(const std::string& text) {
    static const unsigned char kFrom[] = {143, 134, 157, 155, 146, 145, 253, 129, 154};
    static const unsigned char kTo[] = {197, 229, 216, 248, 198, 230, 178, 252, 220};
    std::string r = text;
    for (char& c : r)
        for (size_t i = 0; i < sizeof kFrom; ++i)
            if (static_cast<unsigned char>(c) == kFrom[i]) {
                c = static_cast<char>(kTo[i]);
                break;
            }
    return r;
}

void DosToAnsi(std::string& text) {
    static const struct {
        unsigned char from, to;
    } kMap[] = {{123, 230}, {145, 230}, {124, 248}, {155, 248}, {125, 229}, {134, 229}, {91, 198},
                {146, 198}, {92, 216},  {157, 216}, {93, 197},  {143, 197}, {129, 252}, {154, 220},
                {130, 233}, {138, 233}, {144, 201}, {212, 201}, {253, 178}};
    for (char& c : text)
        for (const auto& m : kMap)
            if (static_cast<unsigned char>(c) == m.from) {
                c = static_cast<char>(m.to);
                break;
            }
}

void PutField(std::string& text, const std::string& value, int position, int width) {
    if (position < 1 || width <= 0) return;
    const size_t end = static_cast<size_t>(position + width - 1);
    if (text.size() < end) text.resize(end, ' ');
    std::string v = ReplaceChar(value, '\0', ' ');
    v = TzUtils::PadRightOrCut(v, width);
    text.replace(static_cast<size_t>(position - 1), static_cast<size_t>(width), v);
}

void PutNativeText(int field, const std::string& text) {
    uint8_t* p = Dbf4::AssignField(field);
    if (!p) return;
    const int width = Dbf4::FieldLen(field);
    const int n = std::min<int>(width, int(text.size()));
    p[0] = uint8_t(n);
    std::memcpy(p + 1, text.data(), size_t(n));
    std::memset(p + 1 + n, ' ', size_t(width - n));
}

int SafeStrToInt(const std::string& text, int def) {
    int64_t v = 0;
    if (!Db::TryStrToInt64(text, v) || v < INT_MIN || v > INT_MAX) return def;
    return static_cast<int>(v);
}

double SafeStrToFloat(const std::string& text, double def) {
    double v = 0;
    return Db::TryStrToFloat(text, v) ? v : def;
}

int32_t RoundToInt(double x) {
    if (std::fabs(x) <= static_cast<double>(INT_MAX)) return static_cast<int32_t>(std::lround(x));
    return x < 0 ? -INT_MAX : INT_MAX;
}

std::string FloatToText(double x, int format, int precision, int digits) {
    return Db::FloatToStrF(x, static_cast<Db::TFloatFormat>(format), precision, digits);
}

std::string FloatToFixed(int precision, int digits, double x) {
    if (!std::isfinite(x)) {
        ShowMsg("konvertering af decimaltal");
        return {};
    }
    return Db::FloatToStrF(x, Db::ffFixed, precision, digits);
}

UnreadField DescribeUnreadField(const Db::TField& field, const std::string& why) {
    Db::TDataSet* ds = field.DataSet();
    const auto* table = dynamic_cast<const TzDs::TTzDataSet*>(ds);
    const std::string where = table ? table->DbfFileName() : ds ? ds->Name() : std::string();
    return DescribeUnreadField(field, where, ds ? ds->RecNo() : 0, why);
}

UnreadField DescribeUnreadField(const Db::TField& field, const std::string& where, int32_t recNo,
                                const std::string& why) {
    const std::string rec = std::to_string(recNo);
    UnreadField u;
    u.key = where + "|" + field.FieldName() + "|" + rec;
    u.text = "Feltet \"" + field.DisplayLabel() + "\" (" + field.FieldName() + ") i post nr. " +
             rec + " i " + where + " kan ikke l\xE6ses";
    if (!why.empty()) u.text += ": " + why;
    return u;
}

void ShowMsg(const std::string& text) {
    kjqt::DialogService::Instance().ShowMessage(kjqt::FromAnsi(text));
}

void ThrowEngineFailure(const std::string& what) {
    ThrowEngineFailure(what, TzCommon::ErrorWord());
}

void ThrowEngineFailure(const std::string& what, uint16_t code) {
    const std::string message = what + ": " + TzCommon::LastMessage();
    throw std::runtime_error(code ? TzCommon::ErrorText(code) + "\r\n" + message : message);
}

void RunMove(const std::string& again, const std::function<void()>& move) {
    try {
        move();
    } catch (const Db::EAbort&) {
        throw;
    } catch (const std::exception& e) {
        TzDs::Situation s;
        s.data = Ansi("Ingen rækker er mistet eller fordoblet.");
        s.again = again;
        throw std::runtime_error(TzDs::InUserWords(e.what(), s));
    }
}

void TellShortTables() {
    std::vector<TzDbfLow::ShortTable> told;
    for (const TzDbfLow::ShortTable& t : TzDbfLow::TakeShortTables()) {
        const bool again = std::any_of(told.begin(), told.end(), [&t](const auto& o) {
            return o.file == t.file && o.held == t.held && o.claimed == t.claimed;
        });
        if (again) continue;  // one cut found by two cursors of the table
        told.push_back(t);
        const int32_t lost = t.claimed - t.held;
        // The open or append that found the cut marked the table's index; it is built again
        // before any key of it is used.
        const bool indexed = TzUtils::FileExists(TzCommon::ForceExtension(t.file, "MDX"));
        ShowMsg("Tabellen " + t.file + " indeholder f\xE6rre poster end dens hoved angav: " +
                std::to_string(t.held) + " i stedet for " + std::to_string(t.claimed) + ". " +
                std::to_string(lost) + (lost == 1 ? " post" : " poster") +
                " mangler; filen er afkortet eller beskadiget." +
                (indexed ? " Indekset over tabellen er bygget igen." : "") +
                " Hent tabellen fra en sikkerhedskopi, hvis de manglende poster skal bruges.");
    }
}

WaitCursor::WaitCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

WaitCursor::~WaitCursor() {
    QApplication::restoreOverrideCursor();
}

void SetMainWindow(QWidget* window) {
    g_mainWindow = window;
    // With the main window up, a table found short at any moment (a save, a browse, a
    // report) is told once the user's action that found it has returned.
    kjqt::KjApplication::SetAfterEvent(window ? &TellShortTables : nullptr);
}

QWidget* MainWindow() {
    return g_mainWindow;
}

void ProgressOpen(const std::string& caption, const std::vector<std::string>& lines, int maximum) {
    ShowProgress(g_mainWindow, caption, lines, maximum);
}

void ProgressStep(int position) {
    if (TProgressDialog* d = TProgressDialog::Current()) d->StepAt(position);
}

void ProgressClose() {
    TProgressDialog::CloseCurrent();
}

void Wait(double seconds) {
    QApplication::processEvents();
    const long ms = std::lround(seconds * 1000);
    QThread::msleep(static_cast<unsigned long>(ms > 0 ? ms : 1));
}

void Signal(int kind) {
    // No tone generator on this platform: the system bell stands for each of the beeps.
    (void)kind;
    QApplication::beep();
}

void TWalkHold::Step() {
    reading_.GiveWay();
    changing_.GiveWay();
    if (!PumpDue()) return;
    Release();  // nothing that runs now (a timer, a repaint) finds the counts held
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    Take();
    lastPump_.start();
}

void TWalkHold::Release() {
    changing_.Release();
    reading_.Release();
}

void TWalkHold::Take() {
    reading_.Take();
    changing_.Take();
}

}  // namespace kj
