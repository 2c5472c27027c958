#include "data/tz_user_text.h"

#include <cctype>
#include <cstring>

#include "storage/file_layer.h"
#include "storage/tz_common.h"
#include "storage/tz_errors.h"

namespace TzDs {

namespace {

constexpr const char* kEngineLead = "Error # ";
// The dataset's failures for a field the table does not hold as the program has it.
struct Layout {
    const char* lead;
    const char* tail;    // what must follow the lead (null: nothing)
    const char* before;  // what is wrong with the field, in words: before the table
    const char* after;   // and after it
};
constexpr Layout kLayouts[] = {
    {"Type mismatch for field '", nullptr, "har en anden type i ", ", end programmet bruger"},
    {"Size mismatch for field '", nullptr, "har en anden l\xE6ngde i ", ", end programmet bruger"},
    {"Field '", "' not found", "findes ikke i ", ", men programmet bruger det"},
};
constexpr const char* kCouldNotCreate = "Could not create '";
// The dataset layer's refusals of a step on a table in the wrong state: its English text and
// what happened in words, with the table ("<table>" is replaced) and the field named.
struct Refusal {
    const char* english;
    const char* words;
};
constexpr Refusal kRefusals[] = {
    {"Cannot perform this operation on a closed dataset",
     "Tabellen<table> er ikke \xE5"
     "ben, s\xE5 det kunne ikke g\xF8res."},
    {"Dataset not in edit or insert mode",
     "R\xE6kken i tabellen<table> er ikke under redigering, s\xE5 det kunne ikke g\xF8res."},
    {"Cannot perform this operation on an open dataset",
     "Tabellen<table> er allerede \xE5"
     "ben, s\xE5 det kunne ikke g\xF8res."},
    {"Cannot perform this operation on an empty dataset",
     "Tabellen<table> er tom, s\xE5 det kunne ikke g\xF8res."},
    {"Cannot modify a read-only dataset",
     "Tabellen<table> kan kun l\xE6ses, s\xE5 intet kan \xE6"
     "ndres i den."},
    {"Record not found",
     "R\xE6kken blev ikke fundet i tabellen<table>; den kan v\xE6re slettet p\xE5 en anden "
     "station."},
    {"' cannot be modified",
     "Feltet '<field>' i tabellen<table> kan ikke \xE6"
     "ndres."},
};

// What the user reads: the first line says what happened, then what became of the data,
// then what to do.
struct Words {
    std::string what;
    std::string data;
    std::string todo;
};

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool EndsFileName(const std::string& t, size_t at) {
    static const char* const kKinds[] = {".dbf", ".mdx", ".dbt", ".ndx", ".@s@"};
    for (const char* k : kKinds) {
        size_t i = 0;
        while (k[i] && at + i < t.size() && Lower(t[at + i]) == k[i]) ++i;
        if (!k[i]) return true;
    }
    return false;
}

bool Separator(char c) {
    return c == '/' || c == '\\';
}

// Whether an absolute path starts at i: a separator, or a drive ("C:\\"), at the start of
// the text searched or after a blank or a colon.
bool PathStartsAt(const std::string& t, size_t i, size_t from) {
    if (i > from && t[i - 1] != ' ' && t[i - 1] != ':' && t[i - 1] != '\t') return false;
    if (Separator(t[i])) return true;
    return i + 2 < t.size() && std::isalpha(static_cast<unsigned char>(t[i])) && t[i + 1] == ':' &&
           Separator(t[i + 2]);
}

// Where the file name whose extension starts at `at` begins, searching no further back than
// `from`: at its path's start when it has a folder (folders may hold blanks), else at the
// start of its word.
size_t FileStart(const std::string& t, size_t from, size_t at) {
    size_t line = at;
    while (line > from && !std::strchr("\r\n\"'(", t[line - 1])) --line;
    for (size_t i = line; i < at; ++i)
        if (PathStartsAt(t, i, line)) return i;
    size_t word = at;
    while (word > line && !std::strchr(" \t:", t[word - 1])) --word;
    return word;
}

// The table, index or memo file the engine's message names (only a table with `tables`):
// the first named with its folder, else the first named at all, else empty.
std::string FileIn(const std::string& t, bool tables = false) {
    std::string bare;
    size_t from = 0;
    for (size_t at = 0; at < t.size(); ++at) {
        if (t[at] != '.' || !EndsFileName(t, at)) continue;
        const size_t start = FileStart(t, from, at);
        from = at + 4;
        if (start == at || (tables && Lower(t[at + 3]) != 'f')) continue;
        const std::string file = t.substr(start, at + 4 - start);
        if (file.find_first_of("\\/") != std::string::npos) return file;
        if (bare.empty()) bare = file;
    }
    return bare;
}

std::string FolderIn(const std::string& file) {
    const size_t cut = file.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : file.substr(0, cut + 1);
}

// " i <file>" when the message names one.
std::string InFile(const std::string& file) {
    return file.empty() ? std::string() : " i " + file;
}

// The text between the first pair of double quotes after `after`, or empty.
std::string QuotedAfter(const std::string& t, const char* after) {
    const size_t at = t.find(after);
    if (at == std::string::npos) return {};
    const size_t open = t.find('"', at);
    const size_t close = open == std::string::npos ? open : t.find('"', open + 1);
    return close == std::string::npos ? std::string() : t.substr(open + 1, close - open - 1);
}

Words NoRoomWords(const std::string& file) {
    const std::string folder = FolderIn(file);
    return {"Disken er fuld" + (folder.empty() ? std::string() : ": " + folder) +
                "\r\nDer var ikke plads p\xE5 disken til at gemme" + InFile(file) + ".",
            "Det, der ikke kunne gemmes, er IKKE gemt; intet andet er g\xE5"
            "et tabt.",
            "Frig\xF8r plads p\xE5 disken, og pr\xF8v igen."};
}

Words WriteErrorWords(const std::string& file) {
    return {
        "Skrivefejl p\xE5 disken" + InFile(file) +
            ": disken eller forbindelsen til den svarede med en fejl (disken er ikke "
            "fuld).",
        "Det, du var ved at gemme, er m\xE5ske ikke gemt. Se efter, f\xF8r du gemmer det igen, "
        "s\xE5 det ikke gemmes to gange.",
        "Kontroll\xE9r disken eller netv\xE6rksforbindelsen, og pr\xF8v igen. Sker det igen, s\xE5 "
        "kontakt din leverand\xF8r."};
}

Words ReadErrorWords(const std::string& file) {
    return {
        "L\xE6sefejl p\xE5 disken" + InFile(file) +
            ": disken eller forbindelsen til den svarede med en fejl.",
        "Intet er gemt eller \xE6ndret.",
        "Kontroll\xE9r disken eller netv\xE6rksforbindelsen, og pr\xF8v igen. Sker det igen, s\xE5 "
        "kontakt din leverand\xF8r."};
}

Words DamagedIndexWords(const std::string& file) {
    return {"Indeksfilen" + (file.empty() ? std::string() : " " + file) + " er beskadiget.",
            "Tabellens r\xE6kker er ikke \xE6ndret, og intet er g\xE5"
            "et tabt; det, du var ved at g\xF8re, "
            "er ikke gjort.",
            "Indeksfilen bygges op igen, n\xE6ste gang tabellen bruges; ellers v\xE6lg Funktion > "
            "Genskab indeks. Pr\xF8v s\xE5 igen."};
}

Words NotInIndexWords(const std::string& file, const std::string& key) {
    return {"Tabellen" + (file.empty() ? std::string() : " " + file) +
                " passer ikke med sit indeks: r\xE6kken" +
                (key.empty() ? std::string() : " med n\xF8glen \"" + key + "\"") +
                " st\xE5r ikke i indeksfilen. Oftest er tabellen \xE6ndret af et andet program "
                "(f.eks. dens hoved), ikke indeksfilen.",
            "Intet er gemt.",
            "V\xE6lg Funktion > Genskab indeks. Hj\xE6lper det ikke, s\xE5 hent tabellen fra en "
            "sikkerhedskopi, eller kontakt din leverand\xF8r."};
}

Words InUseWords(const std::string& file) {
    return {"Tabellen" + (file.empty() ? std::string() : " " + file) +
                " er i brug p\xE5 en anden station lige nu.",
            "Intet er gemt.", "Vent lidt, og pr\xF8v igen."};
}

Words OtherWords(const std::string& file) {
    return {"Der opstod en fejl i datafilerne" + InFile(file) + ".",
            "Det, du var ved at g\xF8re, er m\xE5ske ikke gjort f\xE6rdigt; se efter, f\xF8r du "
            "g\xF8r det "
            "igen.",
            "Pr\xF8v igen. Sker det igen, s\xE5 kontakt din leverand\xF8r."};
}

// The words for the engine's failure `code` with its message; `named` is the file when the
// message names none.
Words WordsFor(uint16_t code, const std::string& message, const std::string& named = {}) {
    std::string file = FileIn(message);
    if (file.empty()) file = named;
    if (tz::NoRoom(code)) return NoRoomWords(file);
    switch (code) {
        case TzErr::DiskWriteError:
        case TzErr::WriteFault:
        case TzErr::DeviceWriteFault:
            return WriteErrorWords(file);
        case TzErr::DiskReadError:
        case TzErr::ReadFault:
        case TzErr::DeviceReadFault:
            return ReadErrorWords(file);
        case TzErr::CorruptedIndex:
        case TzErr::IndexVersionMismatch:
            return DamagedIndexWords(file);
        case TzErr::SharingViolation:
        case TzErr::LockViolation:
        case TzErr::FileInUse:
            return InUseWords(file);
        default:
            break;
    }
    if (message.find("not in index") != std::string::npos)
        return NotInIndexWords(FileIn(message, true), QuotedAfter(message, "ey: "));
    if (message.find("Invalid Node Number") != std::string::npos ||
        message.find("[GetNode]") != std::string::npos)
        return DamagedIndexWords(file);
    return OtherWords(file);
}

// A field of another type or length than the program's ("Type mismatch for field 'F',
// expecting: A actual: B", "Size mismatch ..."), or missing ("Field 'F' not found"), as when
// another program changed the table; `file` is the table, when known.
Words LayoutWords(const Layout& kind, const std::string& shown, const std::string& file) {
    const size_t from = shown.find(kind.lead) + std::strlen(kind.lead);
    const size_t to = shown.find('\'', from);
    const std::string field = shown.substr(from, to == std::string::npos ? 0 : to - from);
    const std::string table = file.empty() ? "tabellen" : "tabellen " + file;
    return {"Feltet '" + field + "' " + kind.before + table + kind.after +
                "; tabellen er sandsynligvis \xE6ndret af et andet program.",
            "Intet er gemt.",
            "Hent tabellen fra en sikkerhedskopi, eller kontakt din leverand\xF8r, s\xE5 feltet "
            "kan blive rettet."};
}

// The layout failure in `shown` (null: none), and where it starts.
const Layout* LayoutIn(const std::string& shown, size_t& at) {
    for (const Layout& k : kLayouts) {
        at = shown.find(k.lead);
        if (at != std::string::npos && (!k.tail || shown.find(k.tail, at) != std::string::npos))
            return &k;
    }
    return nullptr;
}

// Where the engine's code ends in `shown` when its lead is at `lead` (npos: none), with the
// code.
size_t EngineCodeEnd(const std::string& shown, size_t lead, uint16_t& code) {
    if (lead == std::string::npos) return std::string::npos;
    const size_t digits = lead + std::strlen(kEngineLead);
    size_t end = digits;
    unsigned long value = 0;
    while (end < shown.size() && end - digits < 5 && shown[end] >= '0' && shown[end] <= '9')
        value = value * 10 + unsigned(shown[end++] - '0');
    if (end == digits || value > 0xFFFF) return std::string::npos;
    code = uint16_t(value);
    return end;
}

std::string Compose(Words w, const Situation& s, const std::string& detail) {
    if (!s.data.empty()) w.data = s.data;
    if (!s.again.empty()) {
        const size_t cut = w.todo.find("pr\xF8v igen");
        if (cut != std::string::npos)
            w.todo = w.todo.substr(0, cut) + s.again + w.todo.substr(cut + 9);
    }
    return w.what + "\r\n" + w.data + "\r\n" + w.todo + "\r\n\r\n" + kDetailHead + "\r\n" + detail;
}

// The table the dataset names at the end of `lead` ("<file>: "), taken off the lead; the
// rest of the lead (a window's own) stays.
std::string TableOffLead(std::string& lead) {
    const size_t dot = lead.size() >= 6 ? lead.size() - 6 : std::string::npos;
    if (dot == std::string::npos || lead.compare(dot + 4, 2, ": ") != 0 || lead[dot] != '.' ||
        !EndsFileName(lead, dot))
        return {};
    const size_t start = FileStart(lead, 0, dot);
    const std::string file = lead.substr(start, dot + 4 - start);
    lead.resize(start);
    return file;
}

// A layout failure; the table the dataset names in front goes into the words, the rest of
// the lead stays in front.
std::string LayoutInWords(const Layout& kind, const std::string& shown, size_t at,
                          const Situation& situation) {
    std::string lead = shown.substr(0, at);
    const std::string file = TableOffLead(lead);
    return lead + Compose(LayoutWords(kind, shown, file), situation, shown.substr(lead.size()));
}

std::string Replaced(std::string text, const std::string& mark, const std::string& by) {
    const size_t at = text.find(mark);
    return at == std::string::npos ? text : text.replace(at, mark.size(), by);
}

// A refusal of the dataset layer in `shown` (null: none), and where its text starts (for a
// field, where the field's lead "Field '" starts).
const Refusal* RefusalIn(const std::string& shown, size_t& at) {
    for (const Refusal& r : kRefusals) {
        at = shown.find(r.english);
        if (at == std::string::npos) continue;
        if (r.english[0] != '\'') return &r;
        at = shown.rfind("Field '", at);
        if (at != std::string::npos) return &r;
    }
    return nullptr;
}

// A refusal of the dataset layer told in words: what could not be done, that nothing was
// saved, and what to do; the English text after the words.
std::string RefusalInWords(const Refusal& kind, const std::string& shown, size_t at,
                           const Situation& situation) {
    std::string lead = shown.substr(0, at);
    const std::string file = TableOffLead(lead);
    const size_t from = at + std::strlen("Field '");
    const std::string field =
        kind.english[0] == '\'' ? shown.substr(from, shown.find('\'', from) - from) : std::string();
    const std::string what =
        Replaced(Replaced(kind.words, "<table>", file.empty() ? "" : " " + file), "<field>", field);
    const Words w{what, "Intet er gemt.",
                  "Luk vinduet, og pr\xF8v igen. Sker det igen, s\xE5 kontakt din "
                  "leverand\xF8r."};
    return lead + Compose(w, situation, shown.substr(lead.size()));
}

// "Could not create '<file>'": a table file the dataset component could not make, with the
// engine's failure after it when there was one (a full disk, a folder that cannot be
// written). The whole text follows the words as detail.
std::string CouldNotCreateInWords(const std::string& shown, const Situation& situation) {
    const size_t from = std::strlen(kCouldNotCreate);
    const size_t to = shown.find('\'', from);
    const std::string file = shown.substr(from, to == std::string::npos ? 0 : to - from);
    uint16_t code = 0;
    const size_t end = EngineCodeEnd(shown, shown.find(kEngineLead), code);
    Words w = end == std::string::npos ? OtherWords(file) : WordsFor(code, shown.substr(end), file);
    w.what = "Tabellen " + file + " kunne ikke oprettes.\r\n" + w.what;
    return Compose(w, situation, shown);
}

}  // namespace

std::string EngineErrorInWords(uint16_t code, const std::string& message,
                               const Situation& situation) {
    return Compose(WordsFor(code, message), situation,
                   TzCommon::ErrorText(code) + "\r\n" + message);
}

std::string InUserWords(const std::string& shown, const Situation& situation) {
    if (shown.find(kDetailHead) != std::string::npos) return shown;
    if (shown.rfind(kCouldNotCreate, 0) == 0) return CouldNotCreateInWords(shown, situation);
    const size_t lead = shown.find(kEngineLead);
    uint16_t code = 0;
    const size_t end = EngineCodeEnd(shown, lead, code);
    if (end != std::string::npos)
        return shown.substr(0, lead) +
               Compose(WordsFor(code, shown.substr(end)), situation, shown.substr(lead));
    size_t at = 0;
    if (const Layout* kind = LayoutIn(shown, at)) return LayoutInWords(*kind, shown, at, situation);
    if (const Refusal* kind = RefusalIn(shown, at))
        return RefusalInWords(*kind, shown, at, situation);
    return shown;
}

}  // namespace TzDs
