// The date pickers of the report windows: a date is typed as in the program's date fields
// ("31-12-2026", "31.12.2026", "31/12/2026", "311226" or "31122026"; day and month alone take
// the current year) and taken when the picker is left or on Enter, or chosen from a calendar
// (the button, Alt+Down or F4); Up and Down step one day. Shown as "dd-MM-yyyy". A text that
// is no date is said with the date fields' message and the last date comes back. GUI thread.
#pragma once

#include <QDate>
#include <QLineEdit>

namespace kjrep {

class TDatePicker : public QLineEdit {
  public:
    TDatePicker(const QDate& date, QWidget* parent);
    QDate date() const { return date_; }
    void setDate(const QDate& date);
    // The calendar, open from the button, Alt+Down or F4 (nullptr when closed).
    QWidget* Calendar() const { return calendar_; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void Commit();
    void ShowCalendar();

    QDate date_;
    QWidget* calendar_ = nullptr;
};

// A typed date: digits alone as ddmm, ddmmyy or ddmmyyyy, else the date fields' forms.
// false when the text is no date.
bool ParseTypedDate(const QString& text, QDate& date);

}  // namespace kjrep
