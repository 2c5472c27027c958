#include "ui/edit_mask.h"

#include <stdexcept>

#include "data/db_format.h"
#include "ui/text_codec.h"

namespace kjqt {

namespace {

// Mask characters of the stored masks and their Qt equivalents (case-sensitive).
struct MaskPair {
    char stored;
    char qt;
};
constexpr MaskPair kClasses[] = {
    {'L', 'A'}, {'l', 'a'},  // letter required / optional
    {'A', 'N'}, {'a', 'n'},  // letter or digit
    {'C', 'X'}, {'c', 'x'},  // any character
    {'0', '9'}, {'9', '0'},  // digit required / optional: the swapped pair
    {'#', '#'},              // digit or sign, optional
};

// Characters that carry a meaning in a Qt mask and so must be escaped as literals.
bool QtMeta(QChar c) {
    static const QString meta = QStringLiteral("AaNnXx90Dd#HhBb><!;[]{}\\");
    return meta.contains(c);
}

void AppendLiteral(QString& out, QChar c) {
    if (QtMeta(c)) out += u'\\';
    out += c;
}

// Splits "mask;literals;blank" at the last two ";" that are not escaped.
void SplitFields(const QString& all, QString& mask, bool& save, QChar& blank) {
    mask = all;
    save = true;
    blank = u'_';
    int semis[2] = {-1, -1};
    int n = 0;
    for (int i = 0; i < all.size(); ++i) {
        if (all[i] == u'\\') {
            ++i;
            continue;
        }
        if (all[i] == u';') {
            if (n < 2)
                semis[n] = i;
            else {
                semis[0] = semis[1];
                semis[1] = i;
            }
            n = std::min(n + 1, 2);
        }
    }
    if (n == 0) return;
    mask = all.left(semis[0]);
    QString second =
        n == 2 ? all.mid(semis[0] + 1, semis[1] - semis[0] - 1) : all.mid(semis[0] + 1);
    save = second.trimmed() != QStringLiteral("0");
    if (n == 2 && semis[1] + 1 < all.size()) blank = all[semis[1] + 1];
}

QString TranslateBody(const QString& mask) {
    const Db::TFormatSettings& fs = Db::FormatSettings();
    QString out;
    for (int i = 0; i < mask.size(); ++i) {
        QChar c = mask[i];
        if (c == u'\\' && i + 1 < mask.size()) {
            AppendLiteral(out, mask[++i]);
            continue;
        }
        if (c == u'<' && i + 1 < mask.size() && mask[i + 1] == u'>') {
            out += u'!';  // casing off
            ++i;
            continue;
        }
        if (c == u'>' || c == u'<') {
            out += c;
            continue;
        }
        if (c == u'!') continue;  // blanks lead instead of trail: Qt has no such switch
        bool mapped = false;
        for (const MaskPair& p : kClasses)
            if (c == QLatin1Char(p.stored)) {
                out += QLatin1Char(p.qt);
                mapped = true;
                break;
            }
        if (mapped) continue;
        if (c == u'/')
            AppendLiteral(out, QLatin1Char(fs.DateSeparator));
        else if (c == u':')
            AppendLiteral(out, QLatin1Char(fs.TimeSeparator));
        else if (c == u'_')
            out += u' ';
        else
            AppendLiteral(out, c);
    }
    return out;
}

}  // namespace

TQtMask TranslateEditMask(const std::string& storedMask) {
    TQtMask result;
    if (storedMask.empty()) return result;
    QString body;
    SplitFields(FromAnsi(storedMask), body, result.saveLiterals, result.blank);
    QString translated = TranslateBody(body);
    if (translated.isEmpty()) return result;
    result.inputMask = translated + u';' + result.blank;
    return result;
}

QString MaskedTextToStore(const TQtMask& mask, const QString& displayed) {
    if (mask.inputMask.isEmpty()) return displayed;
    // Walk the Qt mask beside the displayed text: each mask position is one character.
    QString out;
    const QString& m = mask.inputMask;
    int pos = 0;
    int end = m.lastIndexOf(u';');
    for (int i = 0; i < end && pos < displayed.size(); ++i) {
        QChar c = m[i];
        if (c == u'>' || c == u'<' || c == u'!') continue;
        bool literal = false;
        if (c == u'\\') {
            ++i;
            literal = true;
        } else if (!QStringLiteral("AaNnXx90Dd#HhBb").contains(c)) {
            literal = true;
        }
        QChar shown = displayed[pos++];
        if (literal) {
            if (mask.saveLiterals) out += shown;
            continue;
        }
        out += shown == mask.blank ? QChar(u' ') : shown;
    }
    return out;
}

bool MaskedTextComplete(const TQtMask& mask, const QString& displayed) {
    const QString& m = mask.inputMask;
    const int end = m.lastIndexOf(u';');
    bool filled = false, missing = false;
    int pos = 0;
    for (int i = 0; i < end && pos < displayed.size(); ++i) {
        QChar c = m[i];
        if (c == u'>' || c == u'<' || c == u'!') continue;
        if (c == u'\\' || !QStringLiteral("AaNnXx90Dd#HhBb").contains(c)) {
            if (c == u'\\') ++i;
            ++pos;
            continue;
        }
        const QChar shown = displayed[pos++];
        const bool blank = shown == mask.blank || shown == u' ';
        if (!blank) filled = true;
        if (blank && QStringLiteral("ANX9DHB").contains(c)) missing = true;
    }
    return !(filled && missing);
}

void RefuseIncompleteMaskedText() {
    throw std::runtime_error("Feltet er ikke udfyldt helt !!!");
}

}  // namespace kjqt
