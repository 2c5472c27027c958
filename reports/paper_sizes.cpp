#include "reports/paper_sizes.h"

#include <cmath>

namespace kjrep {

namespace {

struct Size {
    int16_t code;
    int32_t w, h;
    bool inch;  // thousandths of an inch; otherwise tenths of a millimetre
};

// The Windows paper sizes, upright except the rotated codes 75-83, 88-90 and 106-118.
constexpr Size kSizes[] = {
    {1, 8500, 11000, true},   {2, 8500, 11000, true},   {3, 11000, 17000, true},
    {4, 17000, 11000, true},  {5, 8500, 14000, true},   {6, 5500, 8500, true},
    {7, 7250, 10500, true},   {8, 2970, 4200, false},   {9, 2100, 2970, false},
    {10, 2100, 2970, false},  {11, 1480, 2100, false},  {12, 2500, 3540, false},
    {13, 1820, 2570, false},  {14, 8500, 13000, true},  {15, 2150, 2750, false},
    {16, 10000, 14000, true}, {17, 11000, 17000, true}, {18, 8500, 11000, true},
    {19, 3875, 8875, true},   {20, 4125, 9500, true},   {21, 4500, 10375, true},
    {22, 4750, 11000, true},  {23, 5000, 11500, true},  {24, 17000, 22000, true},
    {25, 22000, 34000, true}, {26, 34000, 44000, true}, {27, 1100, 2200, false},
    {28, 1620, 2290, false},  {29, 3240, 4580, false},  {30, 2290, 3240, false},
    {31, 1140, 1620, false},  {32, 1140, 2290, false},  {33, 2500, 3530, false},
    {34, 1760, 2500, false},  {35, 1760, 1250, false},  {36, 1100, 2300, false},
    {37, 3875, 7500, true},   {38, 3625, 6500, true},   {39, 14875, 11000, true},
    {40, 8500, 12000, true},  {41, 8500, 13000, true},  {42, 2500, 3530, false},
    {43, 1000, 1480, false},  {44, 9000, 11000, true},  {45, 10000, 11000, true},
    {46, 15000, 11000, true}, {47, 2200, 2200, false},  {50, 9500, 12000, true},
    {51, 9500, 15000, true},  {52, 11690, 18000, true}, {53, 9270, 12690, true},
    {54, 8500, 11000, true},  {55, 2100, 2970, false},  {56, 9500, 12000, true},
    {57, 2270, 3560, false},  {58, 3050, 4870, false},  {59, 8500, 12690, true},
    {60, 2100, 3300, false},  {61, 1480, 2100, false},  {62, 1820, 2570, false},
    {63, 3220, 4450, false},  {64, 1740, 2350, false},  {65, 2010, 2760, false},
    {66, 4200, 5940, false},  {67, 2970, 4200, false},  {68, 3220, 4450, false},
    {69, 2000, 1480, false},  {70, 1050, 1480, false},  {75, 11000, 8500, true},
    {76, 4200, 2970, false},  {77, 2970, 2100, false},  {78, 2100, 1480, false},
    {79, 3640, 2570, false},  {80, 2570, 1820, false},  {81, 1480, 1000, false},
    {82, 1480, 2000, false},  {83, 1480, 1050, false},  {88, 1280, 1820, false},
    {89, 1820, 1280, false},  {90, 12000, 11000, true}, {93, 1460, 2150, false},
    {94, 970, 1510, false},   {95, 970, 1510, false},   {96, 1020, 1650, false},
    {97, 1020, 1760, false},  {98, 1250, 1760, false},  {99, 1100, 2080, false},
    {100, 1100, 2200, false}, {101, 1200, 2300, false}, {102, 1600, 2300, false},
    {103, 1200, 3090, false}, {104, 2290, 3240, false}, {105, 3240, 4580, false},
    {106, 2150, 1460, false}, {107, 1510, 970, false},  {108, 1510, 970, false},
    {109, 1650, 1020, false}, {110, 1760, 1020, false}, {111, 1760, 1250, false},
    {112, 2080, 1100, false}, {113, 2200, 1100, false}, {114, 2300, 1200, false},
    {115, 2300, 1600, false}, {116, 3090, 1200, false}, {117, 3240, 2290, false},
    {118, 4580, 3240, false},
};

const Size* FindSize(int code) {
    for (const Size& s : kSizes)
        if (s.code == code) return &s;
    return nullptr;
}

int32_t HundredthsOfMm(int32_t v, bool inch) {
    return inch ? static_cast<int32_t>(std::lround(v * 2.54)) : v * 10;
}

// Codes of the paper kinds: 1-47 for the first 47, then 50-68, then custom and device.
int16_t CodeOfType(int type) {
    if (type < 47) return static_cast<int16_t>(type + 1);
    if (type < pCustom) return static_cast<int16_t>(type + 3);
    return type == pCustom ? 256 : -1;  // pPrinterDevice carries 65535 (-1 as 16 bits)
}

struct RowTable {
    TPaperRow rows[kPaperTypeCount];
    RowTable() {
        for (int t = 0; t < kPaperTypeCount; ++t) {
            int16_t code = CodeOfType(t);
            const Size* s = FindSize(code);
            rows[t] = s ? TPaperRow{code, s->w, s->h, s->inch ? mmHiEnglish : mmLoMetric}
                        : TPaperRow{code, 0, 0, mmLoMetric};
        }
    }
};

}  // namespace

bool PaperSizeOf(int code, int32_t& width, int32_t& height) {
    const Size* s = FindSize(code);
    width = s ? HundredthsOfMm(s->w, s->inch) : 0;
    height = s ? HundredthsOfMm(s->h, s->inch) : 0;
    return s != nullptr;
}

const TPaperRow& PaperRow(TPaperType type) {
    static const RowTable table;
    return table.rows[type];
}

TPaperType PaperTypeOfCode(int code) {
    for (int t = 0; t < pCustom; ++t)
        if (PaperRow(static_cast<TPaperType>(t)).Code == code) return static_cast<TPaperType>(t);
    return pCustom;
}

}  // namespace kjrep
