#include "reports/date_picker.h"

#include <QAction>
#include <QCalendarWidget>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QStyle>

#include "data/db_format.h"
#include "ui/application.h"
#include "ui/text_codec.h"

namespace kjrep {

namespace {

const char kShown[] = "dd-MM-yyyy";

// Digits alone get the separators of the date fields' form: ddmm, ddmmyy, ddmmyyyy.
QString WithSeparators(const QString& text) {
    static const QRegularExpression digits("^\\d{4}(\\d{2}|\\d{4})?$");
    if (!digits.match(text).hasMatch()) return text;
    QString out = text.left(2) + "-" + text.mid(2, 2);
    if (text.size() > 4) out += "-" + text.mid(4);
    return out;
}

QDate ToQDate(Db::TDateTime day) {
    int y = 0, m = 0, d = 0;
    Db::DecodeDate(day, y, m, d);
    return QDate(y, m, d);
}

}  // namespace

bool ParseTypedDate(const QString& text, QDate& date) {
    Db::TDateTime day = 0;
    if (!Db::TryStrToDate(kjqt::ToAnsi(WithSeparators(text.trimmed())), day)) return false;
    date = ToQDate(day);
    return date.isValid();
}

TDatePicker::TDatePicker(const QDate& date, QWidget* parent) : QLineEdit(parent) {
    QAction* drop = addAction(style()->standardIcon(QStyle::SP_ArrowDown), TrailingPosition);
    connect(drop, &QAction::triggered, this, [this] { ShowCalendar(); });
    connect(this, &QLineEdit::returnPressed, this, [this] { Commit(); });
    setDate(date);
}

void TDatePicker::setDate(const QDate& date) {
    date_ = date;
    setText(date.toString(kShown));
}

// The typed text as the date; a text that is no date is said and the last date shown again.
void TDatePicker::Commit() {
    if (text() == date_.toString(kShown)) return;
    QDate typed;
    if (ParseTypedDate(text(), typed)) {
        setDate(typed);
        return;
    }
    const std::string shown = kjqt::ToAnsi(text().trimmed());
    setDate(date_);
    kjqt::Guarded([&] { Db::StrToDate(shown); });  // the date fields' message
    selectAll();
}

void TDatePicker::keyPressEvent(QKeyEvent* event) {
    const bool alt = event->modifiers() & Qt::AltModifier;
    switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
            if (alt && event->key() == Qt::Key_Down) {
                ShowCalendar();
            } else {
                Commit();
                setDate(date_.addDays(event->key() == Qt::Key_Up ? 1 : -1));
            }
            event->accept();
            return;
        case Qt::Key_F4:
            ShowCalendar();
            event->accept();
            return;
        default:
            QLineEdit::keyPressEvent(event);
    }
}

void TDatePicker::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (!calendar_) Commit();
}

void TDatePicker::ShowCalendar() {
    Commit();
    auto* calendar = new QCalendarWidget(this);
    calendar->setWindowFlags(Qt::Popup);
    calendar->setAttribute(Qt::WA_DeleteOnClose);
    calendar->setSelectedDate(date_);
    connect(calendar, &QCalendarWidget::activated, this, [this, calendar](const QDate& d) {
        setDate(d);
        calendar_ = nullptr;
        calendar->close();
    });
    connect(calendar, &QObject::destroyed, this, [this] { calendar_ = nullptr; });
    calendar_ = calendar;
    calendar->move(mapToGlobal(QPoint(0, height())));
    calendar->show();
    calendar->setFocus();
}

}  // namespace kjrep
