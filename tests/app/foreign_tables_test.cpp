// Tables another dBASE writer left in the data folder, through the program's own start-up:
// a customer table with two spare bytes in every record and bytes after its end mark, one
// padded after its end mark to a block size (with 0x1A or zero bytes), and a table the
// engine wrote padded the same way. The start goes on without a word, every customer reads
// right through the data module's cursors, each tag built over the table has one key per
// record, and the table file is left byte for byte but for the flag that names its index.
#include <QtTest>
#include <cstdio>
#include <string>
#include <vector>

#include "app/kj_tables.h"
#include "app_fixture.h"
#include "start_check.h"
#include "storage/tz_utils.h"
#include "ui/application.h"

using namespace kjapptest;
using kjqt::mb::kIdYes;

namespace {

struct Field {
    std::string name;
    char type = 'C';
    int length = 0;
};

// The fields of a table's list as a table file declares them (dates 8 bytes long).
std::vector<Field> FieldsOf(const kj::TableSpec& spec) {
    std::vector<Field> out;
    for (const std::string& line : spec.DbfFields()) {
        const QStringList parts = QString::fromStdString(line).split(u',');
        Field f;
        f.name = parts[0].trimmed().toUpper().toStdString();
        f.type = parts[1].trimmed().toLatin1().at(0);
        f.length = f.type == 'D' ? 8 : parts[2].trimmed().toInt();
        out.push_back(f);
    }
    return out;
}

void Put16(std::string& b, size_t at, int v) {
    b[at] = char(v & 0xFF);
    b[at + 1] = char((v >> 8) & 0xFF);
}

// A customer's text for field `name` as the file holds it (code page 850: "\x9B" is ø);
// dates in the file's form.
std::string CustomerValue(const std::string& name, int i) {
    char b[64];
    if (name == "MAK_ID")
        std::snprintf(b, sizeof b, "K%04d", i);
    else if (name == "MAK_FNAVN")
        std::snprintf(b, sizeof b, "Fornavn %d", i);
    else if (name == "MAK_ENAVN")
        std::snprintf(b, sizeof b, "S\x9Brensen %d", i);
    else if (name == "MAK_ADR1")
        std::snprintf(b, sizeof b, "Vej %d", 1000 - i);
    else if (name == "MAK_POSTNR")
        std::snprintf(b, sizeof b, "%d", 8000 + i % 97);
    else if (name == "MAK_TYPE")
        std::snprintf(b, sizeof b, "%c", i % 2 ? 'P' : 'F');
    else if (name == "MAK_OPRET")
        std::snprintf(b, sizeof b, "2024%02d%02d", 1 + i % 12, 1 + i % 28);
    else
        b[0] = 0;
    return b;
}

// A foreign customer table: `rows` customers in records `spare` bytes longer than the
// fields, the end mark, then `after`, then padding with `pad` up to `padTo` bytes.
std::string ForeignCustomers(int rows, int spare, const std::string& after, size_t padTo = 0,
                             char pad = '\x1A') {
    const std::vector<Field> fields = FieldsOf(*kj::FindTable("KundeDbf"));
    const int headerLength = 32 * int(fields.size()) + 33;
    int recordLength = 1 + spare;
    for (const Field& f : fields) recordLength += f.length;
    std::string b(32, '\0');
    b[0] = 3;
    b[1] = 119;  // 2019-05-17
    b[2] = 5;
    b[3] = 17;
    b[4] = char(rows & 0xFF);
    b[5] = char(rows >> 8);
    Put16(b, 8, headerLength);
    Put16(b, 10, recordLength);
    for (const Field& f : fields) {
        std::string d(32, '\0');
        d.replace(0, f.name.size(), f.name);
        d[11] = f.type;
        d[16] = char(f.length);
        b += d;
    }
    b += '\r';
    for (int i = 1; i <= rows; ++i) {
        b += ' ';
        for (const Field& f : fields) {
            const std::string v = CustomerValue(f.name, i);
            b += v + std::string(size_t(f.length) - v.size(), ' ');
        }
        b += std::string(size_t(spare), '\0');
    }
    b += '\x1A';
    b += after;
    if (b.size() < padTo) b += std::string(padTo - b.size(), pad);
    return b;
}

// Empty when the file holds `bytes`, else where it first differs.
std::string Changed(const std::string& file, const std::string& bytes) {
    const std::string now = Read(file);
    if (now == bytes) return {};
    size_t at = 0;
    while (at < now.size() && at < bytes.size() && now[at] == bytes[at]) ++at;
    auto byte = [](const std::string& b, size_t i) {
        return i < b.size() ? std::to_string(int(uint8_t(b[i]))) : std::string("none");
    };
    return file + " rewritten: " + std::to_string(now.size()) + " bytes for " +
           std::to_string(bytes.size()) + ", first change at " + std::to_string(at) + " (" +
           byte(bytes, at) + " -> " + byte(now, at) + ")";
}

// The customer table read through the data module's cursor and the lookups' second cursor:
// empty when every customer is found by its number with every field as written.
std::string CustomersDisagree(TzDs::TTzDbf& t, int rows) {
    if (t.RecCount() != rows)
        return t.Name() + " counts " + std::to_string(t.RecCount()) + " rows for " +
               std::to_string(rows);
    if (!t.SetOrderToTag("KUNDE")) return t.Name() + ": no tag KUNDE";
    const std::vector<Field> fields = FieldsOf(*kj::FindTable("KundeDbf"));
    for (int i = 1; i <= rows; ++i) {
        const std::string id = CustomerValue("MAK_ID", i);
        if (!t.FindExact(TzUtils::PadRight(id, 10))) return t.Name() + ": " + id + " not found";
        for (const Field& f : fields) {
            if (f.type == 'D') continue;
            std::string want = CustomerValue(f.name, i);
            for (char& c : want)
                if (c == '\x9B') c = '\xF8';  // ø as the program holds it (Windows-1252)
            const std::string got = Trim(t.FieldByName(f.name).AsString());
            if (got != want)
                return t.Name() + " " + id + " " + f.name + " reads \"" + got + "\" for \"" + want +
                       "\"";
        }
        const std::string made = t.FieldByName("MAK_OPRET").AsString();
        if (made.empty()) return t.Name() + " " + id + ": no MAK_OPRET date";
    }
    return {};
}

}  // namespace

class ForeignTablesTest : public QObject {
    Q_OBJECT

    kjqt::ScriptedResponder responder_;
    std::unique_ptr<StartFolder> sf_;
    std::unique_ptr<kj::TKJData> data_;

    bool Start() {
        data_ = NewDataModule();
        const bool ok = kj::OpenStartupData(*data_, "T3=" + sf_->start, nullptr);
        if (!ok) qWarning() << "start-up failed:" << responder_.Texts();
        return ok;
    }
    void Stop() { CloseDataModule(data_); }
    std::string Customers() const { return sf_->data + "Kunde.dbf"; }
    // Puts `bytes` in place of the data folder's table `file`, without its index file (a
    // table from another program comes without one).
    void Replace(const std::string& file, const std::string& bytes) {
        Write(sf_->data + file, bytes);
        const std::string mdx = sf_->data + file.substr(0, file.size() - 3) + "MDX";
        QVERIFY(QFile::remove(QString::fromStdString(mdx)));
    }
    // Starts over the folder; the start must say nothing, and `file` must be left as it was.
    void StartQuietly(const std::string& file, const std::string& bytes, const char* what) {
        responder_.Clear();
        ResetEngine();
        QVERIFY2(Start(), what);
        QVERIFY2(responder_.Texts().isEmpty(),
                 qPrintable(QString(what) + ": " + responder_.Texts().join(u'\n')));
        QCOMPARE(QString::fromStdString(Changed(file, bytes)), QString());
    }

  private slots:
    void initTestCase() { AnswerAllBy(responder_); }
    // A data folder made by a first start, then closed.
    void init() {
        sf_ = FreshStartFolder(responder_, "Firma", "Vej");
        AnswerFirstStart(*sf_, responder_);
        QVERIFY(Start());
        Stop();
        responder_.Clear();
    }
    void cleanup() {
        Stop();
        sf_->KeepIfFailed();
        sf_.reset();
    }

    // Each foreign customer table: the start says nothing, every customer reads right
    // through both cursors of the table, the file keeps its count, records and what
    // follows them byte for byte (after the close too), and each tag of the index built
    // over it reaches every customer once.
    void foreignCustomerTablesOpenAsWritten_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QByteArray>("bytes");
        auto add = [](const char* what, int rows, const std::string& b) {
            QTest::newRow(what) << rows << QByteArray(b.data(), qsizetype(b.size()));
        };
        add("290 rows, 2 spare bytes a record, 5 bytes after the mark", 290,
            ForeignCustomers(290, 2, "\0\0\0\0\0"));
        add("290 rows, 2 spare bytes a record, 5 letters after the mark", 290,
            ForeignCustomers(290, 2, "ABCDE"));
        add("5 rows padded to 4096 bytes with 0x1A", 5, ForeignCustomers(5, 0, "", 4096, '\x1A'));
        add("5 rows padded to 4096 bytes with zero bytes", 5,
            ForeignCustomers(5, 0, "", 4096, '\0'));
        add("5 rows, 2 spare bytes, padded to 4096 bytes with 0x1A", 5,
            ForeignCustomers(5, 2, "", 4096, '\x1A'));
    }
    void foreignCustomerTablesOpenAsWritten() {
        QFETCH(int, rows);
        QFETCH(QByteArray, bytes);
        // The index built over the table is named in its header (byte 28, the production
        // index flag), so that every cursor and station opens it; nothing else changes.
        std::string written = bytes.toStdString();
        Stop();
        Replace("Kunde.dbf", written);
        written[28] = 1;
        StartQuietly(Customers(), written, QTest::currentDataTag());
        QCOMPARE(QString::fromStdString(CustomersDisagree(data_->KundeDbf, rows)), QString());
        QCOMPARE(QString::fromStdString(CustomersDisagree(data_->KundeBufDbf, rows)), QString());
        Stop();
        QCOMPARE(QString::fromStdString(Changed(Customers(), written)),
                 QString());  // after the close
        ResetEngine();
        QCOMPARE(QString::fromStdString(TagsAgree(Customers(), *kj::FindTable("KundeDbf"))),
                 QString());
        QCOMPARE(QString::fromStdString(Changed(Customers(), written)), QString());
    }

    // A table the engine wrote (five stakeholders), padded after its end mark to 1024
    // bytes by another program: it holds five rows at the start, not the padding's.
    void anEngineTablePaddedAfterItsMarkKeepsItsRows() {
        const kj::TableSpec& spec = *kj::FindTable("InteressentDbf");
        const std::string file = sf_->data + spec.file;
        ResetEngine();
        {
            TzDs::TTzDbf f("Fill");
            f.SetDbfFileName(file);
            f.DbfFields() = spec.DbfFields();
            f.IndexList() = spec.tags;
            f.CreateIfNotFound = false;
            f.ShowProgress = false;
            f.Open();
            for (int i = 1; i <= 5; ++i) {
                f.Append();
                f.FieldByName("int_tekst").SetAsString("Interessent " + std::to_string(i));
                f.FieldByName("int_sag").SetAsString("S" + std::to_string(i));
                f.Post();
            }
            f.Close();
        }
        ResetEngine();
        const std::string written = Read(file);
        QVERIFY(!written.empty() && written.back() == '\x1A' && written.size() < 1024);
        for (char pad : {'\x1A', '\0'}) {
            std::string padded = written;
            padded.resize(1024, pad);
            Write(file, padded);
            StartQuietly(file, padded, pad ? "padded with 0x1A" : "padded with zero bytes");
            QCOMPARE(data_->InteressentDbf.RecCount(), 5);
            Stop();
            QCOMPARE(QString::fromStdString(Changed(file, padded)), QString());
            ResetEngine();
            QCOMPARE(QString::fromStdString(TagsAgree(file, spec)), QString());
        }
    }
};

int main(int argc, char** argv) {
    kjqt::KjApplication app(argc, argv);
    ForeignTablesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "foreign_tables_test.moc"
