// The editor's RTF reader (see kj_rtf.h).
#include "app/kj_rtf.h"

#include <QTextCursor>
#include <QTextDocument>
#include <vector>

#include "ui/text_codec.h"

namespace kj {

namespace {

struct Group {
    QTextCharFormat format;
    bool skip = false;
    int ucSkip = 1;
};

// Destinations whose text is not part of the document.
bool IsSkippedDestination(const std::string& word) {
    static const char* const kSkip[] = {"fonttbl",
                                        "colortbl",
                                        "stylesheet",
                                        "info",
                                        "pict",
                                        "header",
                                        "footer",
                                        "object",
                                        "themedata",
                                        "datastore",
                                        "latentstyles",
                                        "listtable",
                                        "listoverridetable",
                                        "rsidtbl",
                                        "generator"};
    for (const char* s : kSkip)
        if (word == s) return true;
    return false;
}

class Reader {
  public:
    Reader(const std::string& in, QTextDocument& doc) : in_(in), cursor_(&doc) {
        doc.clear();
        groups_.push_back({});
    }
    void Run() {
        while (pos_ < in_.size()) Step();
        Flush();
    }

  private:
    Group& Top() { return groups_.back(); }
    void Flush() {
        if (!pending_.isEmpty()) cursor_.insertText(pending_, Top().format);
        pending_.clear();
    }
    void Text(const QString& s) {
        if (!Top().skip) pending_ += s;
    }
    void Step() {
        const char c = in_[pos_++];
        if (c == '{') {
            Flush();
            groups_.push_back(Top());
        } else if (c == '}') {
            Flush();
            if (groups_.size() > 1) groups_.pop_back();
        } else if (c == '\\') {
            Control();
        } else if (c != '\r' && c != '\n') {
            Text(kjqt::FromAnsi(std::string(1, c)));
        }
    }
    void Control() {
        if (pos_ >= in_.size()) return;
        const char c = in_[pos_];
        if (c == '\'') {
            const std::string hex = in_.substr(pos_ + 1, 2);
            pos_ += 3;
            Text(kjqt::FromAnsi(std::string(1, char(std::stoi(hex, nullptr, 16)))));
            return;
        }
        if (!std::isalpha(static_cast<unsigned char>(c))) {
            ++pos_;
            if (c == '*')
                Top().skip = true;
            else if (c == '~')
                Text(QStringLiteral(" "));
            else if (c == '\\' || c == '{' || c == '}')
                Text(QString(QChar(c)));
            return;
        }
        std::string word;
        while (pos_ < in_.size() && std::isalpha(static_cast<unsigned char>(in_[pos_])))
            word += in_[pos_++];
        bool hasArg = false;
        int arg = 0, sign = 1;
        if (pos_ < in_.size() && in_[pos_] == '-') sign = -1, ++pos_;
        while (pos_ < in_.size() && std::isdigit(static_cast<unsigned char>(in_[pos_])))
            hasArg = true, arg = arg * 10 + (in_[pos_++] - '0');
        arg *= sign;
        if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;
        Word(word, hasArg, arg);
    }
    void Word(const std::string& w, bool hasArg, int arg) {
        const bool on = !hasArg || arg != 0;
        QTextCharFormat& f = Top().format;
        if (IsSkippedDestination(w)) {
            Top().skip = true;
        } else if (w == "par" || w == "line") {
            Text(QStringLiteral("\n"));
        } else if (w == "tab") {
            Text(QStringLiteral("\t"));
        } else if (w == "b" || w == "i" || w == "ul" || w == "ulnone" || w == "plain" ||
                   w == "fs") {
            Flush();
            if (w == "b") f.setFontWeight(on ? QFont::Bold : QFont::Normal);
            if (w == "i") f.setFontItalic(on);
            if (w == "ul") f.setFontUnderline(on);
            if (w == "ulnone") f.setFontUnderline(false);
            if (w == "plain") f = QTextCharFormat();
            if (w == "fs" && arg > 0) f.setFontPointSize(arg / 2.0);
        } else if (w == "uc") {
            Top().ucSkip = arg;
        } else if (w == "u") {
            Text(QString(QChar(char16_t(arg < 0 ? arg + 65536 : arg))));
            SkipFallback();
        }
    }
    // The characters that stand for a \u character in readers without Unicode.
    void SkipFallback() {
        for (int n = Top().ucSkip; n > 0 && pos_ < in_.size(); --n) {
            if (in_[pos_] == '\\' && pos_ + 1 < in_.size() && in_[pos_ + 1] == '\'')
                pos_ += 4;
            else if (in_[pos_] == '{' || in_[pos_] == '}')
                break;
            else
                ++pos_;
        }
    }

    const std::string& in_;
    QTextCursor cursor_;
    std::vector<Group> groups_;
    QString pending_;
    size_t pos_ = 0;
};

}  // namespace

bool LooksLikeRtf(const std::string& bytes) {
    return bytes.rfind("{\\rtf", 0) == 0;
}

void LoadRtf(const std::string& bytes, QTextDocument& doc) {
    Reader(bytes, doc).Run();
}

}  // namespace kj
