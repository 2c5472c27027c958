// Engine failures told in the user's words: each kind the user can meet (full disk,
// another write error, a damaged index met while browsing, a row missing from its index,
// a pointer to block 0, a field another program changed the type of) gives Danish text
// that says what happened, what became of the data and what to do, with the engine's text
// after it. The write errors come from the file layer itself, with the errno they stood for.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "data/tz_user_text.h"
#include "storage/file_layer.h"
#include "storage/tz_common.h"
#include "tests/support/test_support.h"

namespace {

// The engine's full text for code and message, as dispatch builds it.
std::string Engine(uint16_t code, const std::string& message) {
    return TzCommon::ErrorText(code) + "\r\n" + message;
}

// A write through the file layer that fails with err (injected), as under a save.
void FailAWrite(const std::string& folder, int err) {
    tz::File f;
    ASSERT_EQ(f.Create(folder + "w.bin", tz::ShareMode::DenyNone), 0);
    tz::FaultInjector inj;
    inj.failAt = 1;
    inj.failErrno = err;
    tz::SetFaultInjector(&inj);
    const uint16_t rc = f.WriteAt(0, "x", 1);
    tz::SetFaultInjector(nullptr);
    ASSERT_EQ(rc, TzErr::DiskWriteError);
}

struct Kind {
    const char* name;
    int writeErrno;  // 0: no write failed before
    uint16_t code;
    std::string message;
    std::string head;     // the first words the user reads
    std::string mustNot;  // words that would tell the wrong failure
};

TEST(UserText, EveryFailureKindIsToldInDanishWithTheEngineTextAfter) {
    kjtest::TempDir dir;
    const std::string d = dir.path() + "/";
    const Kind kinds[] = {
        {"reservation refused", 0, TzErr::InsufficientDiskSpace,
         "Disk full: no room to change index file " + d + "Poster.MDX [LockSemaphore]",
         "Disken er fuld: " + d + "\r\nDer var ikke plads p\xE5 disken til at gemme i " + d +
             "Poster.MDX.",
         "Skrivefejl"},
        {"restore's append on a full disk", ENOSPC, TzErr::DiskWriteError,
         d + "Poster.dbf: File:  " + d + "Poster.dbf [Replace/Append/PutDbfRecord]",
         "Disken er fuld: " + d, "Skrivefejl"},
        {"a quota used up", EDQUOT, TzErr::DiskWriteError,
         "File:  " + d + "Sager.dbf [Replace/Append/PutDbfRecord]", "Disken er fuld: " + d,
         "Skrivefejl"},
        {"a device error", EIO, TzErr::DiskWriteError,
         "File:  " + d + "Sager.dbf [Replace/Append/PutDbfRecord]",
         "Skrivefejl p\xE5 disken i " + d + "Sager.dbf", "Disken er fuld"},
        {"index damage while browsing", 0, TzErr::CorruptedIndex,
         "Corrupted index file: " + d + "Sager.MDX: block 7 [GetNode]",
         "Indeksfilen " + d + "Sager.MDX er beskadiget.", "Disken er fuld"},
        {"a header lie refused", 0, TzErr::RequestBeyondRange,
         "Record with key: \"S002\" not in index: " + d +
             "Sager.MDX [tag: SAGSNR]. "
             "[SyncIndex-2] Record: 1 of " +
             d + "Sager.dbf",
         "Tabellen " + d +
             "Sager.dbf passer ikke med sit indeks: r\xE6kken med n\xF8glen "
             "\"S002\" st\xE5r ikke i indeksfilen. Oftest er tabellen \xE6ndret af et andet "
             "program",
         "Indeksfilen er beskadiget"},
        {"a key missing from its tag", 0, TzErr::RequestBeyondRange,
         "Key: \"S009\" not in index: " + d +
             "Sager.MDX [tag: SAGSNR]. [SyncIndex-1] "
             "Record: 4 of " +
             d + "Sager.dbf",
         "Tabellen " + d +
             "Sager.dbf passer ikke med sit indeks: r\xE6kken med n\xF8glen "
             "\"S009\"",
         "MDX passer"},
        {"a folder with a space, the table named first without it", ENOSPC, TzErr::DiskWriteError,
         "Poster.dbf: Cannot write to: /tmp/Mine data/Sags Data/Poster.@S@ UNLOCKSEMAPHORE",
         "Disken er fuld: /tmp/Mine data/Sags Data/\r\nDer var ikke plads p\xE5 disken til at "
         "gemme i /tmp/Mine data/Sags Data/Poster.@S@.",
         "Skrivefejl"},
        {"a pointer to block 0", 0, TzErr::InternalError,
         "Invalid Node Number (0) in DBF Area 3, Order 1 SAGSNR [GetNode]",
         "Indeksfilen er beskadiget.", "Disken er fuld"},
    };
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.name);
        if (k.writeErrno) FailAWrite(d, k.writeErrno);
        const std::string engine = Engine(k.code, k.message);
        const std::string shown = TzDs::InUserWords(engine);
        EXPECT_EQ(shown.rfind(k.head, 0), 0u) << shown;
        EXPECT_EQ(shown.find(k.mustNot), std::string::npos) << shown;
        // What became of the data, and what to do, before the engine's own text.
        const size_t detail = shown.find(std::string(TzDs::kDetailHead) + "\r\n" + engine);
        ASSERT_NE(detail, std::string::npos) << shown;
        const std::string words = shown.substr(0, detail);
        EXPECT_TRUE(words.find("gemt") != std::string::npos ||
                    words.find("g\xE5"
                               "et tabt") != std::string::npos)
            << words;
        EXPECT_EQ(words.find("Error #"), std::string::npos) << words;
        // Told once: a text already in the user's words is left as it is.
        EXPECT_EQ(TzDs::InUserWords(shown), shown);
    }
    FailAWrite(d, ENOSPC);  // later tests meet the file layer as a full disk left it
}

// A field another program changed or removed: the field and the table's file in the words,
// the table named once (the dataset's "<file>: " lead goes into them), the engine's text
// after them.
TEST(UserText, AFieldTheTableDoesNotHoldAsTheProgramHasItNamesItsTable) {
    const std::string file = "/d/Sags Data/Bruger.dbf";
    struct Case {
        std::string engine, words;
    } cases[] = {
        {file + ": Type mismatch for field 'Kan rette.', expecting: Boolean actual: String",
         "Feltet 'Kan rette.' har en anden type i tabellen " + file + ", end programmet bruger"},
        {file + ": Size mismatch for field 'ini', expecting: 4 actual: 6",
         "Feltet 'ini' har en anden l\xE6ngde i tabellen " + file + ", end programmet bruger"},
        {file + ": Field 'ini_ret' not found",
         "Feltet 'ini_ret' findes ikke i tabellen " + file + ", men programmet bruger det"},
        {"Field 'ini_ret' not found",
         "Feltet 'ini_ret' findes ikke i tabellen, men programmet bruger det"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.engine);
        const std::string shown = TzDs::InUserWords(c.engine);
        EXPECT_EQ(shown.rfind(c.words + "; tabellen er sandsynligvis \xE6ndret af et andet "
                                        "program.\r\nIntet er gemt.\r\n",
                              0),
                  0u)
            << shown;
        EXPECT_NE(shown.find(std::string(TzDs::kDetailHead) + "\r\n" + c.engine), std::string::npos)
            << shown;
    }
    // A lead that is not the table stays in front.
    const std::string lead = "Kunne ikke gemme: ";
    EXPECT_EQ(TzDs::InUserWords(lead + "Field 'x' not found").rfind(lead + "Feltet 'x'", 0), 0u);
}

// The dataset layer's own refusals (a table closed under a window, a row no longer in edit,
// a row gone) are told in Danish naming the table, with the English text after the words.
TEST(UserText, TheDatasetLayersRefusalsAreToldInDanish) {
    const std::string file = "/d/Sags Data/Sager.dbf";
    struct Case {
        std::string engine, words;
    } cases[] = {
        {file + ": Cannot perform this operation on a closed dataset",
         "Tabellen " + file +
             " er ikke \xE5"
             "ben, s\xE5 det kunne ikke g\xF8res."},
        {file + ": Dataset not in edit or insert mode",
         "R\xE6kken i tabellen " + file +
             " er ikke under redigering, s\xE5 det kunne ikke "
             "g\xF8res."},
        {file + ": Cannot perform this operation on an open dataset",
         "Tabellen " + file +
             " er allerede \xE5"
             "ben, s\xE5 det kunne ikke g\xF8res."},
        {file + ": Cannot perform this operation on an empty dataset",
         "Tabellen " + file + " er tom, s\xE5 det kunne ikke g\xF8res."},
        {file + ": Cannot modify a read-only dataset", "Tabellen " + file +
                                                           " kan kun l\xE6ses, s\xE5 intet kan \xE6"
                                                           "ndres i den."},
        {file + ": Record not found", "R\xE6kken blev ikke fundet i tabellen " + file +
                                          "; den kan v\xE6re slettet p\xE5 en anden station."},
        {"Record not found",
         "R\xE6kken blev ikke fundet i tabellen; den kan v\xE6re slettet p\xE5 en anden "
         "station."},
        {file + ": Field 'sags_nr' cannot be modified", "Feltet 'sags_nr' i tabellen " + file +
                                                            " kan ikke \xE6"
                                                            "ndres."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.engine);
        const std::string shown = TzDs::InUserWords(c.engine);
        EXPECT_EQ(shown.rfind(c.words + "\r\n", 0), 0u) << shown;
        EXPECT_NE(shown.find("Intet er gemt"), std::string::npos) << shown;
        EXPECT_NE(shown.find(std::string(TzDs::kDetailHead) + "\r\n" + c.engine), std::string::npos)
            << shown;
    }
    const std::string lead = "Kunne ikke gemme: ";
    EXPECT_EQ(TzDs::InUserWords(lead + "Record not found").rfind(lead + "R\xE6kken blev", 0), 0u);
}

TEST(UserText, AFieldOfAnotherTypeAndAWindowsOwnLeadAreKept) {
    const std::string mismatch =
        "Type mismatch for field 'Kan rette.', expecting: Boolean actual: String";
    const std::string shown = TzDs::InUserWords(mismatch);
    EXPECT_EQ(shown.rfind("Feltet 'Kan rette.' har en anden type i tabellen, end programmet "
                          "bruger; tabellen er sandsynligvis \xE6ndret af et andet program.\r\n"
                          "Intet er gemt.\r\n",
                          0),
              0u)
        << shown;
    EXPECT_NE(shown.find(mismatch), std::string::npos);
    // The start-up's lead stays in front of the words.
    const std::string lead = "Kunne ikke initialisere datafiler: ";
    const std::string start =
        TzDs::InUserWords(lead + Engine(TzErr::InsufficientDiskSpace, "Disk full [MakeIndex]"));
    EXPECT_EQ(start.rfind(lead + "Disken er fuld", 0), 0u) << start;
    // A move says what became of its rows and how it is finished.
    TzDs::Situation move{"Ingen r\xE6kker er mistet eller fordoblet.", "k\xF8r arkiveringen igen"};
    const std::string stopped =
        TzDs::InUserWords(Engine(TzErr::InsufficientDiskSpace, "Disk full"), move);
    EXPECT_NE(
        stopped.find("\r\nIngen r\xE6kker er mistet eller fordoblet.\r\nFrig\xF8r plads p\xE5 "
                     "disken, og k\xF8r arkiveringen igen.\r\n"),
        std::string::npos)
        << stopped;
    // Other texts are the program's own and stay as they are.
    EXPECT_EQ(TzDs::InUserWords("Sagen findes ikke"), "Sagen findes ikke");
}

}  // namespace
