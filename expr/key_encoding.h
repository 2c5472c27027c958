// Low-level helpers shared by the expression language and the index engine: the 12-byte
// decimal (BCD) form of numeric keys and its ordering, date keys as day numbers, the DTOC and
// DTOS date texts, byte and zero-terminated string helpers, a circular list of heap nodes and
// the four-character sound code.
// Pure routines except where noted (the date texts read the engine's date style and century
// flag); not thread-safe where they read those settings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace TzKey {

// ---- Numeric keys ----
// BcdKey, 12 bytes:
//   byte 0     decimal exponent biased by 52: value = 0.d1d2d3... * 10^(byte0 - 52)
//   byte 1     bit 7 sign (1 negative), bits 2-6 significant-digit count (0-20), bit 0 = 1
//   bytes 2-11 up to 20 digits, two per byte, first digit in the high half, leading zeros
//              dropped, unused halves 0
// Zero is byte 0 = 52, byte 1 = 1 and no digits; it is never negative.
inline constexpr size_t kBcdSize = 12;
inline constexpr uint8_t kBcdBias = 52;
inline constexpr size_t kBcdExponent = 0;
inline constexpr size_t kBcdFlags = 1;
inline constexpr size_t kBcdDigits = 2;
inline constexpr uint8_t kBcdSignBit = 0x80;
inline constexpr int kBcdMaxDigits = 20;

struct BcdKey {
    uint8_t b[kBcdSize] = {};
};

inline int BcdDigitCount(const uint8_t* key) {
    return (key[kBcdFlags] >> 2) & 0x1F;
}

// Encodes the number text text[0..length) (stops early at a zero byte) with the given
// decimals of the key.
void TextToBcd(uint8_t* key, const char* text, size_t length, int decimals);
// Formats the value with the given number of decimals and no padding, then TextToBcd.
void DoubleToBcd(uint8_t* key, int decimals, double value);
// Negative, 0 or positive as a < b, a == b, a > b.
int CompareBcd(const uint8_t* a, const uint8_t* b);
// -1, 0, 1.
int CompareDouble(double a, double b);
// 0 when the first n bytes are equal, else the difference of the first differing bytes.
int CompareBytes(const void* p, const void* q, size_t n);

// ---- Number texts ----
// Fixed-point text of x with `decimals` decimals (0-255): roundHalfUp rounds as the field
// writer does (tz::FormatRounded: the shortest decimal text, half away from zero);
// otherwise the dropped digits of the number's decimal text of 15 significant digits are
// cut off (toward zero). Writes at most cap - 1 characters and a zero
// byte; returns the length, or -1 when the text would not fit (nothing usable written).
// "inf" and "nan" texts are given for values that are not finite.
int FormatDecimal(double x, int decimals, bool roundHalfUp, char* out, size_t cap);
// Decimal number at the start of text (blanks, sign, digits, ".", exponent after "E");
// the longest number prefix is read, 0 when there is none. Independent of the C locale.
double ParseNumber(const char* text, size_t length);

// ---- String helpers ----
std::string PCharToStr(const char* s, size_t n);
uint8_t UpperAscii(uint8_t c);
bool IsUpperLetter(uint8_t c);
std::string ZeroPadInt(long value, int width);
void ReverseBytes(uint8_t* p, size_t n);
// Exchanges the adjacent runs p[0..m) and p[m..m+n) in place.
void SwapBlocks(uint8_t* p, size_t m, size_t n);

// ---- Circular list of heap nodes ----
// A node is a heap block with a header (next, previous, block size) and a zero-filled
// payload; a list is referenced by its most recently linked node (nullptr when empty).
struct ListNode {
    ListNode* next;
    ListNode* prev;
    uint32_t size;  // header + payload
};
// Allocates size bytes of payload, links the node in front of the list's current node and
// makes it current. Null when no memory is left.
void* AllocNode(ListNode*& list, size_t size);
ListNode* NodeOf(void* payload);
void* PayloadOf(ListNode* node);
void LinkNode(ListNode*& list, ListNode* node);
void UnlinkNode(ListNode*& list, ListNode* node);  // does not free it
ListNode* NextNode(ListNode* node);
void FreeNode(ListNode*& list, void* payload);  // unlinks and frees
void FreeList(ListNode*& list);

// ---- Calendar on day numbers ----
// A day number is the proleptic Gregorian day count plus 1,721,425; the blank date is 1e100.
inline constexpr double kBlankDate = 1e100;
inline constexpr double kDayNumberBase = 1721425;
inline constexpr double kLastDayNumber = 5373484;  // 31 December 9999

int DayOfYear(int y, int m, int d);  // -1 for an impossible date
long DaysBeforeYear(int y);
void MonthDayOf(int dayOfYear, bool leap, int* month, int* day);
// The eight characters YYYYMMDD of a date field (blank or impossible: the blank date).
double DateFieldToDayNumber(const char* text);
double YmdToDayNumber(int y, int m, int d);
// Year, month, day of a day number in the range 1721426..5373484; false outside it.
bool DayNumberToYmd(double dayNumber, int* y, int* m, int* d);
// The DTOC text of a day number in the given style with 2 or 4 year digits (the style's
// blank form outside the valid range). Writes at most 10 characters and a zero byte.
size_t DayNumberToDateText(double dayNumber, int style, bool century, char* out);
// The DTOS text: 8 characters and a zero byte; 8 blanks outside 1721426..5373484.
void DayNumberToDtos(double dayNumber, char* out);
// A date text in the current date style (at most its first 10 characters) as a day number;
// the blank date when it is no valid date.
double CtodToDayNumber(const std::string& text);
// The same reading, giving YYYYMMDD (8 blanks for the zero date or no date).
std::string DateTextToDtos(const std::string& text);
// Day of the week of a valid day number, 1 Sunday ... 7 Saturday; 0 outside the range.
int DayNumberToDow(double dayNumber);
// Today's local date as a day number.
double TodayDayNumber();

// ---- Sound code ----
// The four-character American Soundex code of text (at most its first 100 characters).
std::string Soundex(const std::string& text);
void SoundexInto(const char* text, size_t length, char* out);  // 4 characters + zero

}  // namespace TzKey
