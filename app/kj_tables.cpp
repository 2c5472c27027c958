#include "app/kj_tables.h"

#include "app/kj_text.h"

namespace kj {

namespace {

constexpr const char* kDateMask = "99/99/9999;1; ";

FieldSpec F(const char* line, const char* label, const char* mask = "") {
    return FieldSpec{line, Ansi(label), mask, false, false};
}
FieldSpec Date(const char* line, const char* label) {
    return FieldSpec{line, Ansi(label), kDateMask, false, false};
}
FieldSpec Money(const char* line, const char* label) {
    return FieldSpec{line, Ansi(label), "", true, false};
}
FieldSpec JaNej(const char* line, const char* label) {
    return FieldSpec{line, Ansi(label), "", false, true};
}

// clang-format off
std::vector<FieldSpec> CaseFields() {
    return {F("sags_nr, C, 10, 0", "Sagsnr.", ">cccccccccc;0;_"),
            F("sags_bem, C, 100, 0", "Beskrivelse"),
            Date("sag_opret, D, 10, 0", "Oprettet"),
            Date("sag_ajour, D, 10, 0", "Ajourført"),
            F("sag_ini, C, 5, 0", " af "),
            F("sag_disk, C, 254, 0", "Område"),
            F("sag_kunde, C, 10, 0", "Kunde"),
            F("sag_ansvar, C, 5, 0", "Ansvarlig"),
            F("sag_afslut, D, 10, 0", "Afsluttet", "99/99/9999;1;_"),
            F("sag_matnr, C, 50, 0", "Matrikelnr."),
            F("sag_type, C, 16, 0", "Type"),
            F("filler, C, 254, 0", ""),
            F("filler2, C, 254, 0", ""),
            F("filler3, C, 6, 0", "")};
}

std::vector<FieldSpec> EventFields(bool scratch) {
    std::vector<FieldSpec> f = {
        F("stat_sag, C, 10, 0", "Sagsnr."),
        Date("stat_dato, D, 10, 0", "Dato"),
        F("stat_bem, C, 100, 0", "Hændelse"),
        Date("stat_opret, D, 10, 0", "Oprettet"),
        Date("stat_ajour, D, 10, 0", "Ajourført"),
        F("stat_ini, C, 5, 0", "af"),
        F("stat_navn, C, 10, 0", "Kontakt / ansvarlig"),
        F("stat_tid, C, 8, 0", "Tidspunkt", "!90:00;1;_"),
        F("stat_var, C, 8, 0", "Varighed", "!90:00;1;_"),
        JaNej("stat_val, L, 1, 0", "Afsluttet")};
    if (scratch) {
        f.push_back(F("stat_recno, N, 9, 0", ""));
        f.push_back(F("filler, C, 22, 0", ""));
    } else {
        f.push_back(F("filler, C, 26, 0", ""));
    }
    return f;
}

std::vector<FieldSpec> PostingFields(bool scratch) {
    std::vector<FieldSpec> f = {
        F("post_sag, C, 10, 0", "Sagsnr."),
        F("post_tmu, C, 10, 0", "Vare"),
        F("post_antal, N, 10, 2", "Antal"),
        Money("post_pris, F, 20, 2", "Stk.pris"),
        F("post_moms, F, 10, 2", "Moms sats"),
        Money("post_rabat, F, 20, 2", "Rabat"),
        F("post_bem, C, 32, 0", "Tekst"),
        F("post_ans, C, 5, 0", "Meda."),
        Date("post_opret, D, 10, 0", "Oprettet"),
        Date("post_ajour, D, 10, 0", "Ajourført"),
        F("post_ini, C, 5, 0", "af"),
        F("post_fnr, C, 16, 0", "Fakturanr."),
        F("post_dk, C, 1, 0", "D/K", ">L;0;_"),
        JaNej("post_over, L, 1, 0", "Overført"),
        Date("post_dato, D, 10, 0", "Dato"),
        F("post_pri, N, 5, 0", "Udskrifts prioritet")};
    if (scratch) {
        f.push_back(F("post_recno, N, 17, 0", "posterings record"));
        f.push_back(F("filler, C, 13, 0", ""));
    } else {
        f.push_back(F("filler, C, 17, 0", ""));
    }
    return f;
}

std::vector<FieldSpec> UserFields() {
    return {F("ini, C, 5, 0", "Medarbejder", ">ccccc;0;_"),
            F("ini_titel, C, 50, 0", "Titel"),
            F("ini_fnavn, C, 50, 0", "Fornavn"),
            F("ini_enavn, C, 50, 0", "Efternavn"),
            F("ini_adr1, C, 50, 0", "Adresse"),
            F("ini_adr2, C, 50, 0", "Adresse"),
            F("ini_postnr, C, 10, 0", "Postnr."),
            F("ini_email, C, 64, 0", "EMail"),
            F("ini_tlf, C, 25, 0", "Tlf."),
            F("ini_fax, C, 25, 0", "Fax."),
            F("ini_pass, C, 16, 0", "Kodeord"),
            F("ini_ret, L, 1, 0", "Kan rette."),
            Date("ini_opret, D, 10, 0", "Oprettet"),
            Date("ini_ajour, D, 10, 0", "Ajourført"),
            F("ini_ini, C, 5, 0", "Ajourført af"),
            F("filler, C, 69, 0", "")};
}

std::vector<FieldSpec> ItemFields() {
    return {F("tmu_id, C, 10, 0", "Vare", ">cccccccccc;0;_"),
            F("tmu_bem, C, 100, 0", "Tekst"),
            Money("tmu_pris, F, 20, 2", "Pris"),
            F("tmu_moms, F, 10, 2", "Moms sats"),
            F("tmu_konto, C, 16, 0", "Finans konto"),
            Date("tmu_opret, D, 10, 0", "Oprettet"),
            Date("tmu_ajour, D, 10, 0", "Ajourført"),
            F("tmu_ini, C, 5, 0", "af"),
            F("tmu_gr, C, 10, 0", "Varegruppe"),
            F("filler, C, 78, 0", "")};
}

std::vector<FieldSpec> GroupFields() {
    return {F("id, C, 10, 0", "Vare", ">ccccccccc;0;_"),
            F("tekst, C, 35, 0", "Tekst"),
            F("priori, N, 5, 0", "Udskrifts prioritet"),
            Date("opret, D, 10, 0", "Oprettet"),
            Date("ajour, D, 10, 0", "Ajourført"),
            F("ini, C, 5, 0", "Ajourført af"),
            F("filler, C, 25, 0", "")};
}

std::vector<FieldSpec> PostalFields() {
    return {F("pst_nr, C, 10, 0", "Postnr."),
            F("pst_by, C, 64, 0", "Bynavn"),
            Date("pst_opret, D, 10, 0", "Oprettet"),
            Date("pst_ajour, D, 10, 0", "Ajourført"),
            F("pst_ini, C, 5, 0", "af")};
}

std::vector<FieldSpec> CustomerFields() {
    return {F("mak_id, C, 10, 0", "Kunde", ">ccccccccc;0;_"),
            F("mak_titel, C, 50, 0", "Titel"),
            F("mak_fnavn, C, 50, 0", "Fornavn"),
            F("mak_enavn, C, 50, 0", "Efternavn"),
            F("mak_adr1, C, 50, 0", "Adresse"),
            F("mak_adr2, C, 50, 0", "Adresse"),
            F("mak_postnr, C, 10, 0", "Postnr."),
            F("mak_email, C, 64, 0", "EMail"),
            F("mak_tlf, C, 25, 0", "Tlf."),
            F("mak_fax, C, 25, 0", "Fax."),
            F("mak_att, C, 50, 0", "Att."),
            F("mak_type, C, 1, 0", "Type", ">l"),
            Date("mak_opret, D, 10, 0", "Oprettet"),
            Date("mak_ajour, D, 10, 0", "Ajourført"),
            F("mak_ini, C, 5, 0", "Ajourført af"),
            F("filler, C, 129, 0", "")};
}

std::vector<FieldSpec> StakeholderFields() {
    return {F("int_tekst, C, 32, 0", "Interessent"),
            F("int_id, C, 10, 0", "ID"),
            F("int_sag, C, 10, 0", "Sagsnr"),
            Date("int_opret, D, 10, 0", "Oprettet"),
            F("int_ini, C, 10, 0", " af "),
            Date("int_ajour, D, 10, 0", "Ajourført")};
}

std::vector<TableSpec> MakeTables() {
    const Folder D = Folder::Data, S = Folder::System;
    std::vector<TableSpec> t = {
        {"SagsDbf", "Sager.dbf", D, CaseFields(),
         {"SAGSNR,F,F,UPPER(SAGS_NR)", "",
          "SAGSANS,F,F,UPPER(SAG_ANSVAR)+UPPER(SAGS_NR)", "",
          "SAGSKUND,F,F,UPPER(SAG_KUNDE)+UPPER(SAGS_NR)", "",
          "SAGSAFSLUT,F,F,DTOS(SAG_AFSLUT)+UPPER(SAGS_NR)", ""}},
        {"StatusDbf", "Status.dbf", D, EventFields(false),
         {"STATUS,F,F,UPPER(STAT_SAG)+DTOS(STAT_DATO)+STAT_TID", "",
          "STATDATO,F,F,DTOS(STAT_DATO)+STAT_TID+UPPER(STAT_SAG)", "",
          "STATNAVN,F,F,UPPER(STAT_NAVN)+DTOS(STAT_DATO)+STAT_TID", ""}},
        {"BrugerDbf", "Bruger.dbf", D, UserFields(),
         {"BRUGER,F,F,UPPER(INI)", "",
          "BRUGERNAVN,F,F,UPPER(INI_ENAVN)+UPPER(INI_FNAVN)", "",
          "BRUGERPOST,F,F,INI_POSTNR+UPPER(INI)", ""}},
        {"VareDbf", "Varer.dbf", D, ItemFields(),
         {"VARER,F,F,UPPER(TMU_ID)", "",
          "VAREKONTO,F,F,UPPER(TMU_KONTO)+UPPER(TMU_ID)", "",
          "GRUPPE,F,F,UPPER(TMU_GR)+UPPER(TMU_ID)", ""}},
        {"vareGDbf", "VarerG.dbf", D, GroupFields(),
         {"GRUPPE,F,F,UPPER(ID)", "",
          "PRIORI,F,F,PRIORI", ""}},
        {"PostnrDbf", "PostBy.dbf", D, PostalFields(),
         {"POSTNR,F,F,PST_NR", "",
          "BYNAVN,F,F,UPPER(PST_BY)+PST_NR", ""}},
        {"PostDbf", "Poster.dbf", D, PostingFields(false),
         {"POSTSAG,F,F,UPPER(POST_SAG)+DTOS(POST_DATO)", "",
          "POSTANS,F,F,UPPER(POST_ANS)+DTOS(POST_DATO)", "",
          "POSTTMU,F,F,UPPER(POST_SAG)+STR(100000+POST_PRI,6)+UPPER(POST_TMU)+DTOS(POST_DATO)", "",
          "POSTFNR,F,F,POST_FNR+UPPER(POST_SAG)+DTOS(POST_DATO)", "",
          "POSTSANS,F,F,UPPER(POST_SAG)+UPPER(POST_ANS)+STR(100000+POST_PRI,6)+DTOS(POST_DATO)", ""}},
        {"KundeDbf", "Kunde.dbf", D, CustomerFields(),
         {"KUNDE,F,F,UPPER(MAK_ID)", "",
          "KUNDENAVN,F,F,UPPER(MAK_ENAVN)+UPPER(MAK_FNAVN)", "",
          "KUNDEADR1,F,F,UPPER(MAK_ADR1)+UPPER(MAK_ADR2)", "",
          "KUNDEADR2,F,F,UPPER(MAK_ADR2)+UPPER(MAK_ADR1)", "",
          "KUNDEPOST,F,F,MAK_POSTNR+UPPER(MAK_ID)", ""}},
        {"InteressentDbf", "Interessent.dbf", D, StakeholderFields(),
         {"INTSAG,F,F,UPPER(INT_SAG)", "",
          "INTID,F,F,UPPER(INT_ID)+UPPER(INT_SAG)", ""}},
        {"TimerDbf", "Timer.dbf", S, PostingFields(false), {}},
        {"tmpPost", "TPost.dbf", S, PostingFields(true), {}},
        {"tmpStat", "TStat.dbf", S, EventFields(true), {}},
        {"SagAfslut", "AfsluttedeSager.dbf", D, CaseFields(), {"SAGSNR,F,F,UPPER(SAGS_NR)", ""}},
        {"posterAfslut", "AfsluttedePoster.dbf", D, PostingFields(false),
         {"POSTSAG,F,F,UPPER(POST_SAG)", ""}},
        {"statusAfslut", "AfsluttedeStatus.dbf", D, EventFields(false),
         {"STATUS,F,F,UPPER(STAT_SAG)", ""}},
    };
    return t;
}
// clang-format on

}  // namespace

std::vector<std::string> TableSpec::DbfFields() const {
    std::vector<std::string> lines;
    lines.reserve(fields.size());
    for (const FieldSpec& f : fields) lines.push_back(f.line);
    return lines;
}

const std::vector<TableSpec>& Tables() {
    static const std::vector<TableSpec> tables = MakeTables();
    return tables;
}

const TableSpec* FindTable(const std::string& component) {
    static const struct {
        const char* twin;
        const char* table;
    } kTwins[] = {{"SagsBufDbf", "SagsDbf"},     {"statusBufDbf", "StatusDbf"},
                  {"BrugerBufDbf", "BrugerDbf"}, {"VareBufDbf", "VareDbf"},
                  {"vareGBufDbf", "vareGDbf"},   {"PostnrBufDbf", "PostnrDbf"},
                  {"PostBufDbf", "PostDbf"},     {"KundeBufDbf", "KundeDbf"}};
    std::string name = component;
    for (const auto& t : kTwins)
        if (name == t.twin) name = t.table;
    for (const TableSpec& t : Tables())
        if (t.component == name) return &t;
    return nullptr;
}

}  // namespace kj
