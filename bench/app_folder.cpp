#include "bench/app_folder.h"

#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <vector>

#include "app/kj_startup.h"
#include "app/kj_tables.h"
#include "app/kj_text.h"
#include "app/qel_com.h"
#include "data/tz_dbf.h"
#include "storage/dbf4.h"
#include "storage/file_layer.h"
#include "storage/num_text.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "ui/application.h"
#include "ui/dialog_service.h"

namespace kjbench {

namespace {

using Row = std::map<std::string, std::string>;  // field name -> value text (ANSI)

struct Col {
    std::string name;
    char type;
    int length, decimals, offset;
};

std::vector<Col> Columns(const kj::TableSpec& spec) {
    std::vector<Col> cols;
    int offset = 1;
    for (const std::string& line : spec.DbfFields()) {
        std::vector<std::string> p;
        std::string cur;
        for (char c : line + ",")
            if (c == ',') {
                p.push_back(cur);
                cur.clear();
            } else if (c != ' ') {
                cur.push_back(c);
            }
        Col c{p[0], p[1][0], std::stoi(p[2]), std::stoi(p[3]), offset};
        if (c.type == 'D') c.length = 8;
        offset += c.length;
        cols.push_back(c);
    }
    return cols;
}

void Put(char* rec, const Col& c, const std::string& value) {
    std::string v = value;
    if (c.type == 'N' || c.type == 'F') {
        char text[64] = "";
        if (!value.empty())
            tz::FormatFixed(text, sizeof text, c.length, c.decimals,
                            tz::ParseDouble(value.data(), value.size()));
        v = text;
    } else if (c.type == 'C') {
        v = TzCommon::AnsiToOemStr(value);
    }
    v.resize(size_t(c.length), ' ');
    std::memcpy(rec + c.offset, v.data(), size_t(c.length));
}

// Creates the table through the component (its header is the engine's) and writes n rows.
void WriteTable(const std::string& folder, const char* component, int n,
                const std::function<void(int, Row&)>& make) {
    const kj::TableSpec& spec = *kj::FindTable(component);
    const std::string path = folder + spec.file;
    {
        TzDs::TTzDbf t(component);
        t.SetDbfFileName(path);
        t.DbfFields() = spec.DbfFields();
        t.ShowProgress = false;
        t.Open();
    }
    const std::vector<Col> cols = Columns(spec);
    tz::File f;
    f.Open(path, tz::Access::ReadWrite, tz::ShareMode::Exclusive);
    uint8_t head[12];
    size_t got = 0;
    f.ReadAt(0, head, sizeof head, &got);
    const int hl = head[8] | (head[9] << 8), rl = head[10] | (head[11] << 8);
    std::vector<char> block;
    const int per = 4096;
    for (int start = 0; start < n; start += per) {
        const int count = std::min(per, n - start);
        block.assign(size_t(count) * size_t(rl), ' ');
        for (int k = 0; k < count; ++k) {
            Row row;
            make(start + k, row);
            char* rec = block.data() + size_t(k) * size_t(rl);
            for (const Col& c : cols) {
                auto it = row.find(c.name);
                if (it != row.end()) Put(rec, c, it->second);
            }
        }
        f.WriteAt(uint64_t(hl) + uint64_t(start) * uint64_t(rl), block.data(), block.size());
    }
    const uint8_t count[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    f.WriteAt(4, count, 4);
    const uint8_t eof = 0x1A;
    f.WriteAt(uint64_t(hl) + uint64_t(n) * uint64_t(rl), &eof, 1);
    f.Close();
    // Every tag built once from the table's rows.
    if (!spec.tags.empty()) {
        TzDs::TTzDbf t(component);
        t.SetDbfFileName(path);
        t.DbfFields() = spec.DbfFields();
        t.IndexList() = spec.tags;
        t.ShowProgress = false;
        t.CreateIndex = TzDs::ciAlways;
        t.Open();
    }
}

const char* const kFirst[] = {"Søren", "Anne",    "Jørgen", "Mette", "Bjørn", "Åse",
                              "Lars",  "Kirsten", "Ole",    "Hanne", "Æbbe",  "Niels"};
const char* const kLast[] = {"Sørensen", "Hansen",  "Møller", "Jensen",   "Østergaard", "Nielsen",
                             "Ærenlund", "Poulsen", "Kjær",   "Pedersen", "Bøgh",       "Larsen"};
const char* const kStreets[] = {"Åboulevarden", "Søndergade", "Nørregade", "Vestergade",
                                "Østerbrogade", "Kærvej",     "Møllevej",  "Strandvejen"};

std::string Date(int dayIndex) {
    // Days from 1 January 2010, as YYYYMMDD (30-day months keep it simple and valid).
    const int year = 2010 + dayIndex / 360, month = 1 + (dayIndex / 30) % 12,
              day = 1 + dayIndex % 28;
    char b[16];
    std::snprintf(b, sizeof b, "%04d%02d%02d", year, month, day);
    return b;
}

std::string CaseNo(int i) {
    return "S" + std::to_string(100000 + i);
}
std::string Ini(int i) {
    return std::string(1, char('A' + i % 26)) + char('A' + (i / 26) % 26) + char('A' + i % 7);
}
std::string Cust(int i) {
    return "K" + std::to_string(10000 + i);
}

}  // namespace

void GenerateAppFolder(const std::string& start, FolderSize size) {
    using kj::Ansi;
    const std::string data = start + "SagsData/";
    std::filesystem::create_directories(data);
    std::string ini = "[Morvane Stier]\r\nMorvaneSti=" + start + "\r\nZorbo1Sti=" + start +
                      "\r\nSagsDataSti=" + data + "\r\n";
    std::FILE* f = std::fopen((start + "ZORBO397.ASD").c_str(), "wb");
    std::fwrite(ini.data(), 1, ini.size(), f);
    std::fclose(f);
    const std::string user = "1\r\n" + kj::EncodeFirmBlock(Ansi("Landinspektørerne Øst ApS"),
                                                           Ansi("Åboulevarden 12, 8000 Aarhus C"));
    f = std::fopen((start + "ZORBO195.ASD").c_str(), "wb");
    std::fwrite(user.data(), 1, user.size(), f);
    std::fclose(f);

    const int employees = 40, customers = std::max(50, size.cases / 20), items = 60, groups = 8,
              postal = 300;
    const std::string today = Date(15 * 360);
    WriteTable(data, "BrugerDbf", employees, [&](int i, Row& r) {
        r = {{"ini", Ini(i)},
             {"ini_fnavn", Ansi(kFirst[i % 12])},
             {"ini_enavn", Ansi(kLast[(i * 7) % 12])},
             {"ini_postnr", std::to_string(1000 + (i % postal) * 10)},
             {"ini_ret", i < 5 ? "T" : "F"},
             {"ini_pass", i < 5 ? "kode" : ""},
             {"ini_opret", today},
             {"ini_ajour", today},
             {"ini_ini", "AA"}};
    });
    WriteTable(data, "PostnrDbf", postal, [&](int i, Row& r) {
        r = {{"pst_nr", std::to_string(1000 + i * 10)},
             {"pst_by", Ansi(i % 3 ? "Århus" : "Næstved") + std::to_string(i)},
             {"pst_opret", today},
             {"pst_ajour", today},
             {"pst_ini", "AA"}};
    });
    WriteTable(data, "vareGDbf", groups, [&](int i, Row& r) {
        r = {{"id", "G" + std::to_string(i)},
             {"tekst", Ansi("Gruppe nr. ") + std::to_string(i)},
             {"priori", std::to_string(i * 10 + 5)},
             {"opret", today},
             {"ajour", today},
             {"ini", "AA"}};
    });
    WriteTable(data, "VareDbf", items, [&](int i, Row& r) {
        r = {{"tmu_id", "V" + std::to_string(100 + i)},
             {"tmu_bem", Ansi("Måling og afsætning ") + std::to_string(i)},
             {"tmu_pris", std::to_string(250 + (i % 9) * 75) + ".50"},
             {"tmu_moms", "25.00"},
             {"tmu_konto", std::to_string(1000 + i)},
             {"tmu_gr", "G" + std::to_string(i % groups)},
             {"tmu_opret", today},
             {"tmu_ajour", today},
             {"tmu_ini", "AA"}};
    });
    WriteTable(data, "KundeDbf", customers, [&](int i, Row& r) {
        r = {{"mak_id", Cust(i)},
             {"mak_fnavn", Ansi(kFirst[i % 12])},
             {"mak_enavn", Ansi(kLast[(i / 12) % 12])},
             {"mak_adr1", Ansi(kStreets[i % 8]) + " " + std::to_string(1 + i % 180)},
             {"mak_postnr", std::to_string(1000 + (i % postal) * 10)},
             {"mak_type", i % 3 ? "P" : "F"},
             {"mak_opret", today},
             {"mak_ajour", today},
             {"mak_ini", "AA"}};
    });
    WriteTable(data, "SagsDbf", size.cases, [&](int i, Row& r) {
        const int day = int((int64_t(i) * 5400) / std::max(1, size.cases));
        r = {{"sags_nr", CaseNo(i)},
             {"sags_bem", Ansi("Udstykning af matr. nr. ") + std::to_string(i) + Ansi(" Sønderby")},
             {"sag_opret", Date(day)},
             {"sag_ajour", Date(day)},
             {"sag_ini", Ini(i % employees)},
             {"sag_kunde", Cust(i % customers)},
             {"sag_ansvar", Ini((i * 3) % employees)},
             {"sag_matnr", std::to_string(i % 97) + "a"},
             {"sag_type", "Udstykning"}};
        if (i % 5 == 0) r["sag_afslut"] = Date(std::min(day + 90, 5399));
    });
    WriteTable(data, "StatusDbf", size.cases * 3, [&](int i, Row& r) {
        const int c = i / 3, day = int((int64_t(c) * 5400) / std::max(1, size.cases)) + (i % 3) * 7;
        r = {{"stat_sag", CaseNo(c)},
             {"stat_dato", Date(day)},
             {"stat_bem", Ansi("Møde med ejer, skel påvist")},
             {"stat_opret", Date(day)},
             {"stat_ajour", Date(day)},
             {"stat_ini", Ini(c % employees)},
             {"stat_navn", Ini(c % employees)},
             {"stat_tid", "10:30"},
             {"stat_val", i % 3 ? "F" : "T"}};
    });
    WriteTable(data, "InteressentDbf", size.cases * 2, [&](int i, Row& r) {
        r = {{"int_tekst", Ansi(i % 2 ? "Køber:" : "Ejer:")},
             {"int_id", Cust((i * 13) % customers)},
             {"int_sag", CaseNo(i / 2)},
             {"int_opret", today},
             {"int_ini", "AA"},
             {"int_ajour", today}};
    });
    WriteTable(data, "PostDbf", size.postings, [&](int i, Row& r) {
        const int c = int((int64_t(i) * size.cases) / std::max(1, size.postings));
        const int day = int((int64_t(c) * 5400) / std::max(1, size.cases)) + i % 20;
        const bool invoiced = c % 5 == 0 || i % 3 == 0;
        r = {{"post_sag", CaseNo(c)},
             {"post_tmu", "V" + std::to_string(100 + i % items)},
             {"post_antal", std::to_string(1 + i % 8) + ".50"},
             {"post_pris", std::to_string(250 + (i % 9) * 75) + ".50"},
             {"post_moms", "25.00"},
             {"post_rabat", i % 11 ? "0.00" : "25.00"},
             {"post_bem", Ansi("Opmåling i marken")},
             {"post_ans", Ini(i % employees)},
             {"post_opret", Date(day)},
             {"post_ajour", Date(day)},
             {"post_ini", Ini(i % employees)},
             {"post_fnr", invoiced ? "F" + std::to_string(20000 + c) : ""},
             {"post_dk", i % 50 ? "D" : "K"},
             {"post_over", invoiced && c % 2 ? "T" : "F"},
             {"post_dato", Date(day)},
             {"post_pri", std::to_string((i % groups) * 10 + 5)}};
    });
}

std::string CachedAppFolder(FolderSize size) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string start = std::string(tmp && *tmp ? tmp : "/tmp") + "/kj_app_folder_" +
                              std::to_string(size.cases) + "_" + std::to_string(size.postings) +
                              "/";
    if (!std::filesystem::exists(start + "SagsData/Poster.MDX")) {
        std::filesystem::remove_all(start);
        GenerateAppFolder(start, size);
    }
    return start;
}

int RunAppBenchmarks(int argc, char** argv, kjqt::DialogResponder* responder) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    kjqt::KjApplication app(argc, argv);
    TzCommon::SetErrorChecking(0);
    kj::EngineStartup();
    kjqt::DialogService::Instance().SetResponder(responder);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace kjbench
