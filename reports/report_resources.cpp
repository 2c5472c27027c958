#include "reports/report_resources.h"

#include <QFile>
#include <QFileInfo>
#include <stdexcept>

#include "reports/report_host.h"
#include "storage/whole_file.h"
#include "ui/text_codec.h"

namespace kjrep {

namespace {

const char kHeadA4[] = R"(Titel1       = &BR ;0;0;1900;35;V;;;;;;
Titel2       = &BA ;0;44;1900;35;V;;;;;;
Dato         =Dato &DATO;0;0;1900;35;H;;;;;;
Side         =Side &SIDE;0;44;1900;35;H;;;;;;
)";

const char kHeadA3[] = R"(Titel1       = &BR ;0;0;1900;35;V;;;;;;
Titel2       = &BA ;0;44;1900;35;V;;;;;;
Dato         =Dato &DATO;0;0;2770;35;H;;;;;;
Side         =Side &SIDE;0;44;2770;35;H;;;;;;
)";

// ---- Ongoing cases ----
const char kAktiveCase[] = R"(;Sagen
SagsNr       =Sagsnr.:  ;  10;  0;250; 42;V; 280;  0; 400;42;V
SagsAnsvarlig=Ansvarlig:; 700;  0;250; 42;V; 960;  0; 900;42;V
SagsType     =Type:     ;  10; 60;250; 42;V; 280; 60;1600;42;V
SagsBem      =Bem.:     ;  10;120;250; 42;V; 280;120;1600;42;V
SagsMatnr    =Matr.nr.: ;  10;180;250; 42;V; 280;180;1600;42;V
SagsOmråde   =Område:   ;  10;240;250; 42;V; 280;240;1600;42;V
SagsKunde    =Kunde:    ;  10;300;250; 42;V; 280;300;1600;42;V
SagsIni      =I:        ;1220;360; 40; 25;V;1270;360; 130;25;V
SagsAjour    =A:        ;1420;360; 40; 25;V;1470;360; 180;25;V
SagsOpret    =O:        ;1670;360; 40; 25;V;1720;360; 180;25;V
)";

const char kAktiveBands[] = R"(;Status (hændelser)
StatusDato   =Dato      ;   0;  0; 180;30;V;   0;  0; 180;30;V
StatusBem    =Tekst     ; 200;  0;1700;30;V; 200;  0;1700;30;V
StatusNavn   =Kontakt   ;   0; 40;1500;30;V;   0; 40;1500;30;V
StatusAjour  =Ajour     ;1520; 40; 180;30;V;1520; 40; 180;30;V
StatusIni    =af        ;1720; 40; 130;30;V;1720; 40; 130;30;V
StatusAfslut =*         ;1870; 40;  30;30;V;1870; 40;  30;30;V
;Posteringer
PostDato     =Dato      ;   0;0; 140;25;V;   0;0; 140;25;V
PostVare     =Vare      ; 150;0; 170;25;V; 150;0; 170;25;V
PostBem      =Tekst     ; 330;0; 280;25;V; 330;0; 280;25;V
PostDK       =DK        ; 620;0;  40;25;V; 620;0;  40;25;V
PostAntal    =Antal     ; 670;0; 160;25;H; 670;0; 160;25;H
PostPris     =Pris      ; 840;0; 190;25;H; 840;0; 190;25;H
PostRabat    =R         ;1040;0;  20;25;V;1040;0;  20;25;V
PostTotal    =Total     ;1070;0; 230;25;H;1070;0; 230;25;H
PostMoms     =Moms      ;1310;0; 220;25;H;1310;0; 220;25;H
PostIAlt     =IAlt      ;1540;0; 230;25;H;1540;0; 230;25;H
PostAnsvarlig=Med       ;1780;0;  90;25;V;1780;0;  90;25;V
PostFaktura  =F         ;1880;0;  20;25;V;1880;0;  20;25;V
;SubTotal
PostSubTekst =          ; 330;0; 320;25;V;;;;;
PostSubAntal =          ; 670;0; 160;25;H;;;;;
PostSubTotal =          ;1070;0; 230;25;H;;;;;
PostSubMoms  =          ;1310;0; 220;25;H;;;;;
PostSubIalt  =          ;1540;0; 230;25;H;;;;;
;IAlt
PostIAltTotal=          ;1070;0; 230;25;H;;;;;
PostIAltMoms =          ;1310;0; 220;25;H;;;;;
PostIaltIAlt =          ;1540;0; 230;25;H;;;;;
)";

std::string AktiveSager() {
    std::string s = R"([SidstValgt]
Nr=1

[Rapporter]
1=Aktive sager på A4
2=Aktive sager på A3
3=Aktive sager på A4 liggende
4=Sagsomslag på halv A4

[1]
MedtagStatus=J
MedtagPoster=J
SkiftSide=J
PostSortering=1
Papir=9
PapirStørrelse=2100;2970
PapirOrientering=1
Margin=60;60;60;120
;Hoved
Titel        =Aktive sager;0;100;1900; 88;V;;;;;;
)";
    s += kHeadA4;
    s += kAktiveCase;
    s += kAktiveBands;
    s += R"(
[2]
MedtagStatus=J
MedtagPoster=J
SkiftSide=J
PostSortering=1
Papir=8
PapirStørrelse=2970;4200;
PapirOrientering=1
Margin= 60; 60; 60;120
;Hoved
Titel        =Aktive sager;0;100;2770; 88;V;;;;;;
)";
    s += kHeadA3;
    s += kAktiveCase;
    s += kAktiveBands;
    s += R"(
[3]
MedtagStatus=J
MedtagPoster=J
SkiftSide=N
PostSortering=1
Papir=9
PapirStørrelse=2100;2970
PapirOrientering=2
Margin=60;60;60;120
;Hoved
Titel        =Aktive sager;0;100;2770; 88;V;;;;;;
)";
    s += kHeadA3;
    s += kAktiveCase;
    s += kAktiveBands;
    s += R"(
[4]
MedtagStatus=N
MedtagPoster=N
SkiftSide=J
PostSortering=0
Papir=11
PapirStørrelse=1480;2100
PapirOrientering=1
Margin=60;60;60;120
;Hoved
Titel        =Sagsomslag;0;100;1300; 88;V;;;;;;
Titel1       = &BR ;0;0;1300;35;V;;;;;;
Titel2       = &BA ;0;44;1300;35;V;;;;;;
Dato         =;;;;;;;;;;;
Side         =;;;;;;;;;;;
;Sagen
SagsNr       =Sagsnr.:  ;  10;  0;250; 42;V; 280;  0; 400;42;V
SagsAnsvarlig=Ansvarlig:;  10; 60;250; 42;V; 280; 60;1000;42;V
SagsType     =Type:     ;  10;120;250; 42;V; 280;120;1000;42;V
SagsBem      =Bem.:     ;  10;180;250; 42;V; 280;180;1000;42;V
SagsMatnr    =Matr.nr.: ;  10;240;250; 42;V; 280;240;1000;42;V
SagsOmråde   =Område:   ;  10;300;250; 42;V; 280;300;1000;42;V
SagsKunde    =Kunde:    ;  10;360;250; 42;V; 280;360;1000;42;V
SagsIni      =I:        ;  10;420; 40; 25;V;  60;420; 130;25;V
SagsAjour    =A:        ; 300;420; 40; 25;V; 350;420; 180;25;V
SagsOpret    =O:        ; 650;420; 40; 25;V; 700;420; 180;25;V
)";
    return s;
}

// ---- Postings per employee ----
const char kBrugerPosterBody[] = R"(;Medarbejder
BrugerID     =Medarbejder;0;0;280;42;V;300;0;140;42;V
BrugerNavn   =;;;;;;500;0;1400;42;V
FraDato      =Fra: ; 450;60; 240;42;H; 700;60; 240;42;V
TilDato      =Til: ; 950;60; 240;42;H;1200;60; 240;42;V
;Posteringer
PostDato     =Dato      ;   0;0; 140;25;V;   0;0; 140;25;V
PostSag      =Sag       ; 150;0; 190;25;V; 150;0; 190;25;V
PostVare     =Vare      ; 350;0; 170;25;V; 350;0; 170;25;V
PostBem      =Tekst     ; 530;0; 330;25;V; 530;0; 330;25;V
PostDK       =DK        ; 870;0;  40;25;V; 870;0;  40;25;V
PostAntal    =Antal     ; 920;0; 140;25;H; 920;0; 140;25;H
PostPris     =Pris      ;1070;0; 170;25;H;1070;0; 170;25;H
PostRabat    =R         ;1250;0;  30;25;V;1250;0;  30;25;V
PostTotal    =Total     ;1285;0; 200;25;H;1285;0; 200;25;H
PostMoms     =Moms      ;1495;0; 200;25;H;1495;0; 200;25;H
PostIAlt     =IAlt      ;1705;0; 195;25;H;1705;0; 195;25;H
;SubTotal
PostSubDato  =          ; 530;0; 330;25;V;;;;;
PostSubTotal =          ;1285;0; 200;25;H;;;;;
PostSubMoms  =          ;1495;0; 200;25;H;;;;;
PostSubIalt  =          ;1705;0; 195;25;H;;;;;
;IAlt
PostIaltTekst=I Alt     ; 530;0; 330;25;V;;;;;
PostIAltTotal=          ;1285;0; 200;25;H;;;;;
PostIAltMoms =          ;1495;0; 200;25;H;;;;;
PostIaltIAlt =          ;1705;0; 195;25;H;;;;;
)";

std::string BrugerPoster() {
    std::string s = R"([SidstValgt]
Nr=1

[Rapporter]
1=Posteringer pr. medarbejder på A4
2=Posteringer pr. medarbejder på A3

[1]
Papir=9
PapirStørrelse=2100;2970
PapirOrientering=1
Margin=60;60;60;120
;Hoved
Titel        =Liste over posteringer;0;100;1900; 88;V;;;;;;
)";
    s += kHeadA4;
    s += kBrugerPosterBody;
    s += R"(
[2]
Papir=8
PapirStørrelse=2970;4200;
PapirOrientering=1
Margin= 60; 60; 60;120
;Hoved
Titel        =Liste over posteringer;0;100;2770; 88;V;;;;;;
)";
    s += kHeadA3;
    s += kBrugerPosterBody;
    return s;
}

// ---- Outstanding amounts ----
std::string UdeHead(const char* variant, const char* extra, const char* side) {
    return std::string("\n[") + variant + "]\n" + extra +
           "PapirOrientering=1\n;Hoved\n"
           "Titel        =Udestående på sager;0;100;1900; 88;V;;;;;;\n"
           "Titel1       = &BR ;0;0;1900;35;V;;;;;;\n"
           "Titel2       = &BA ;0;44;1900;35;V;;;;;;\n"
           "Dato         =Dato &DATO;0;0;1900;35;H;;;;;;\n"
           "Side         =Side &SIDE;" +
           side + ";1900;35;H;;;;;;\n";
}

std::string UdeSager() {
    std::string s = R"([SidstValgt]
Nr=1

[Rapporter]
1=Udestående kun total på A4
2=Udestående pr vare på A4
3=Udestående pr varegruppe på A4
;4=Udestående kun total på A3/A4 liggende
;5=Udestående pr vare på A3/A4 liggende
;6=Udestående pr varegruppe på A3/A4 liggende
)";
    s += UdeHead("1",
                 "Visning=0\nKunAktive=0\nPapir=9\nPapirStørrelse=2100;2970\nMargin=60;60;60;120\n",
                 "0;44");
    s += R"(;Sagen
SagsNr       =Nr        ;  00;0; 140;25;V;  00;0; 140;25;V;
SagsBem      =Bemærkning; 150;0; 890;25;V; 150;0; 890;25;V;
;vare/varegruppe
VareID       =;;;;;;;;;;;
VareBem      =;;;;;;;;;;;
VareGruppeID =;;;;;;;;;;;
VareGruppeBem=;;;;;;;;;;;
;SubTotal
PostSubAntal =;;;;;;;;;;;
PostSubTotal =;;;;;;;;;;;
PostSubMoms  =;;;;;;;;;;;
PostSubIalt  =;;;;;;;;;;;
;IAlt
PostIaltTekst=;;;;;;;;;;;
PostIAltTotal=Total;1150;0;240;25;H;1150;0;240;25;H;
PostIAltMoms =Moms ;1400;0;240;25;H;1400;0;240;25;H;
PostIaltIAlt =I Alt;1650;0;250;25;H;1650;0;250;25;H;
;GrandTotal
PostGrandTekst=Udestående ialt;500;0;600;25;V;;;;;;
PostGrandTotal=;;;;;;1150;0;240;25;H;
PostGrandMoms =;;;;;;1400;0;240;25;H;
PostGrandIAlt =;;;;;;1650;0;250;25;H;
)";
    const char* caseLines = R"(;Sagen
SagsNr       =Nr        ;  00;0; 140;42;V; 150;0; 300;42;V;
SagsBem      =Bemærkning; 460;0; 260;42;V; 730;0;1170;42;V;
)";
    const char* sums = R"(PostSubTotal =Pris ;1150;0;240;25;H;1150;0;240;25;H;
PostSubMoms  =Moms ;1400;0;240;25;H;1400;0;240;25;H;
PostSubIalt  =Total;1650;0;250;25;H;1650;0;250;25;H;
;IAlt
PostIaltTekst=I Alt; 900;0;240;25;H;;;;;;
PostIAltTotal=;;;;;;1150;0;240;25;H;
PostIAltMoms =;;;;;;1400;0;240;25;H;
PostIaltIAlt =;;;;;;1650;0;250;25;H;
)";
    s += UdeHead(
        "2", "Visning=1\nKunAktive=1\nPapir=9\nPapirStørrelse=2100;2970;\nMargin= 60; 60; 60;120\n",
        "0;70");
    s += caseLines;
    s += R"(;vare/varegruppe
VareID       =Vare;0;0;170;25;V;0;0;170;25;V;
VareBem      =;;;;;;180;0;710;25;V;
VareGruppeID =;;;;;;;;;;;
VareGruppeBem=;;;;;;;;;;;
;SubTotal
PostSubAntal =Antal; 900;0;240;25;H; 900;0;240;25;H;
)";
    s += sums;
    s += UdeHead(
        "3", "Visning=2\nKunAktive=0\nPapir=9\nPapirStørrelse=2100;2970;\nMargin= 60; 60; 60;120\n",
        "0;44");
    s += caseLines;
    s += R"(;vare/varegruppe
VareID       =;;;;;;;;;;;
VareBem      =;;;;;;;;;;;
VareGruppeID =Varegruppe;0;0;170;25;V;0;0;170;25;V;
VareGruppeBem=;;;;;;180;0;710;25;V;
;SubTotal
PostSubAntal =;;;;;;;;;;;
)";
    s += sums;
    return s;
}

// ---- Register lists ----
std::string ListHead(const char* title, bool a3) {
    std::string titleBox = !a3 ? ";0;100;1900; 88;V;;;;;;" : ";0;100;2970; 88;V;;;;;;";
    const char* width = a3 ? "2770" : "1900";
    return std::string(";Hoved\nTitel=") + title + titleBox +
           "\nTitel1= &BR ;0;0;1900;35;V;;;;;;\nTitel2= &BA ;0;44;1900;35;V;;;;;;\n"
           "Dato =Dato &DATO;0;0;" +
           width + ";35;H;;;;;;\nSide =Side &SIDE;0;44;" + width + ";35;H;;;;;;\n";
}

std::string PersonBody(const char* who) {
    std::string w = who;
    return ";Medarbejder\n" + w + "ID=ID;0;0;240;42;V;0;0;240;42;V;\n" + w +
           "Navn=Navn / Adresse / Postnr./By / eMail;250;0;940;42;V;250;0;1390;42;V;\n" + w +
           "Adresse=;;;;;;250; 60;1390;42;V;\n" + w + "PostBy=;;;;;;250;120;1390;42;V;\n" + w +
           "Mail=;;;;;;250;180;940;42;V;\n" + w +
           "Tlf=Telefon / Fax;1200;0;440;42;V;1200;180;440;42;V;\n" + w +
           "Fax=;;;;;;1200;240;440;42;V;\n"
           "Ajour=Ajourført d. af;1650;0;300;25;V;1650;0;180;25;V;\nIni=;;;;;;1850;0;50;25;V;\n";
}

std::string PersonList(const char* who, const char* plural, const char* title,
                       const char* a4Paper) {
    std::string s = std::string("[SidstValgt]\nNr=1\n\n[Rapporter]\n1=") + plural +
                    " på A4\n2=" + plural + " på A3\n\n[1]\nPapir=" + a4Paper +
                    "\nPapirStørrelse=2100;2970\nPapirOrientering=1\nMargin=60;60;60;120;\n";
    s += ListHead(title, false) + PersonBody(who);
    s += "\n[2]\nPapir=8\nPapirStørrelse=2970;4200;\nPapirOrientering=1\nMargin= 60; 60; 60;120\n";
    s += ListHead(title, true) + PersonBody(who);
    return s;
}

std::string PostByListe() {
    const char* body =
        ";Postnr/by\nPostByNr=Postnr;0;0;240;42;V;0;0;240;42;V;\n"
        "PostByBy=Bynavn;260;0;1380;42;V;260;0;1380;42;V;\n"
        "Ajour=Ajourført d. af;1650;0;300;25;V;1650;0;180;25;V;\nIni=;;;;;;1850;0;50;25;V;\n";
    std::string s =
        "[SidstValgt]\nNr=1\n\n[Rapporter]\n1=Postnr. / By på A4\n2=Postnr. / By på A3\n\n"
        "[1]\nPapir=9\nPapirStørrelse=2100;2970\nPapirOrientering=1\nMargin=60;60;60;120\n";
    s += ListHead("Liste over postnr. / by", false) + body;
    s += "\n[2]\nPapir=8\nPapirStørrelse=2970;4200;\nPapirOrientering=1\nMargin= 60; 60; 60;120\n";
    s += ListHead("Liste over postnr. / by", true) + body;
    return s;
}

std::string VarerListe() {
    std::string s =
        "[SidstValgt]\nNr=1\n\n[Rapporter]\n1=Varer/Varegrupper på A4\n"
        "2=Varer/Varegrupper på A3\n3=Kun Varegrupper på A4\n\n"
        "[1]\nKunGrupper=0\nPapir=9\nPapirStørrelse=2100;2970\nPapirOrientering=1\nMargin=60;60;60;"
        "120;\n";
    const char* body = R"(;VareGruppe
VareGruppeID=Gruppe;0;0;145;42;V;150;0;240;42;V;
VareGruppeBem=Bemærkning;400;0;290;42;V;700;0;890;42;V;
VareGruppePrioritet=Prioritet;1600;0;190;42;V;1800;0;90;42;V;
;Vare
VareID=Vare;0;0;170;25;V;0;0;170;25;V;
VareBem=Bemærkning;180;0;860;25;V;180;0;860;25;V;
VarePris=Pris;1050;0;190;25;V;1050;0;190;25;V;
VareMoms=Moms;1250;0;190;25;V;1250;0;190;25;V;
VareKonto=Konto;1450;0;190;25;V;1450;0;190;25;V;
Ajour=Ajourført d. af;1650;0;250;25;V;1650;0;180;25;V;
Ini=;;;;;;1840;0;60;25;V;
)";
    s += ListHead("Liste over varer", false);
    s += body;
    s += "\n[2]\nKunGrupper=0\nPapir=8\nPapirStørrelse=2970;4200;\nPapirOrientering=1\nMargin= 60; "
         "60; 60;120\n";
    s += ListHead("Liste over varer", true);
    s += body;
    s += "\n[3]\nKunGrupper=1\nPapir=9\nPapirStørrelse=2100;2970;\nPapirOrientering=1\nMargin= 60; "
         "60; 60;120\n";
    s += ListHead("Liste over varegrupper", false);
    s += R"(;VareGruppe
VareGruppeID=Gruppe;0;0;145;42;V;0;0;145;42;V;
VareGruppeBem=Bemærkning;150;0;1440;42;V;150;0;1440;42;V;
VareGruppePrioritet=Prioritet;1600;0;300;42;V;1600;0;300;42;V;
;Vare
VareID=;;;;;;;;;;;
varebem=;;;;;;;;;;;
VarePris=;;;;;;;;;;;
VareMoms=;;;;;;;;;;;
VareKonto=;;;;;;;;;;;
Ajour=;;;;;;;;;;;
Ini=;;;;;;;;;;;
)";
    return s;
}

// UTF-8 source text -> Windows-1252 with CR LF line ends.
std::string ToResourceBytes(const std::string& utf8) {
    std::string ansi = kjqt::ToAnsi(QString::fromUtf8(utf8.c_str()));
    std::string out;
    for (char c : ansi) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace

std::string LayoutResource(const std::string& fileName) {
    QString name = QString::fromStdString(fileName).toLower();
    if (name == "aktivesager.kjr") return ToResourceBytes(AktiveSager());
    if (name == "udesager.kjr") return ToResourceBytes(UdeSager());
    if (name == "brugerposter.kjr") return ToResourceBytes(BrugerPoster());
    if (name == "brugerliste.kjr")
        return ToResourceBytes(
            PersonList("Bruger", "Medarbejdere", "Liste over medarbejdere", "1"));
    if (name == "kundeliste.kjr")
        return ToResourceBytes(PersonList("Kunde", "Kunder", "Liste over kunder", "1"));
    if (name == "varerliste.kjr") return ToResourceBytes(VarerListe());
    if (name == "postbyliste.kjr") return ToResourceBytes(PostByListe());
    return std::string();
}

void SaveResourceToFile(const std::string& fileName, const std::string& path) {
    std::string bytes = LayoutResource(fileName);
    if (bytes.empty() || tz::WriteWholeFile(path, bytes) != 0)
        throw std::runtime_error("Kan ikke oprette filen " + path);
}

std::string EnsureLayoutFile(const std::string& fileName) {
    std::string path = ReportFolder() + fileName;
    if (!QFileInfo::exists(kjqt::FromAnsi(path))) SaveResourceToFile(fileName, path);
    return path;
}

}  // namespace kjrep
