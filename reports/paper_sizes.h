// Paper sizes by Windows paper code (DMPAPER numbering: 1 Letter, 8 A3, 9 A4 ...) and the
// paper kinds of the print-preview component. Constant tables; any thread.
#pragma once

#include <cstdint>

namespace kjrep {

inline constexpr int kPaperUser = 256;  // a user-defined size
inline constexpr int kPaperA4 = 9;
inline constexpr int32_t kA4Width = 21000;  // hundredths of a millimetre
inline constexpr int32_t kA4Height = 29700;

// Width and height of a paper code in hundredths of a millimetre (millimetres x 100,
// rounded); false and 0 x 0 for an unlisted code (0, 48, 49, 71-74, 84-87, 91, 92, > 118).
bool PaperSizeOf(int code, int32_t& width, int32_t& height);

// Units of the preview component.
enum TUnits { mmPixel, mmLoMetric, mmHiMetric, mmLoEnglish, mmHiEnglish, mmTWIPS, mmPoints };

// Paper kinds of the preview component, in table order.
enum TPaperType {
    pLetter,
    pLetterSmall,
    pTabloid,
    pLedger,
    pLegal,
    pStatement,
    pExecutive,
    pA3,
    pA4,
    pA4Small,
    pA5,
    pB4,
    pB5,
    pFolio,
    pQuatro,
    p10x14,
    p11x17,
    pNote,
    pEnv9,
    pEnv10,
    pEnv11,
    pEnv12,
    pEnv14,
    pCSheet,
    pDSheet,
    pESheet,
    pEnvDL,
    pEnvC5,
    pEnvC3,
    pEnvC4,
    pEnvC6,
    pEnvC65,
    pEnvB4,
    pEnvB5,
    pEnvB6,
    pEnvItaly,
    pEnvMonarch,
    pEnvPersonal,
    pFanfoldUSStd,
    pFanfoldGermanStd,
    pFanfoldGermanLegal,
    pB4ISO,
    pJapanesePostcard,
    p9x11,
    p10x11,
    p15x11,
    pEnvInvite,
    pLetterExtra,
    pLegalExtra,
    TabloidExtra,
    pA4Extra,
    pLetterTransverse,
    pA4Transverse,
    pLetterExtraTransverse,
    pAPlus,
    pBPlus,
    pLetterPlus,
    pA4Plus,
    pA5Transverse,
    pB5Transverse,
    pA3Extra,
    pA5Extra,
    pB5Extra,
    pA2,
    pA3Transverse,
    pA3ExtraTransverse,
    pCustom,
    pPrinterDevice
};
inline constexpr int kPaperTypeCount = pPrinterDevice + 1;

struct TPaperRow {
    int16_t Code;
    int32_t Width, Height;  // upright, in Unit
    TUnits Unit;            // mmHiEnglish (0.001 in) or mmLoMetric (0.1 mm)
};
const TPaperRow& PaperRow(TPaperType type);
// The paper kind of a paper code; pCustom when no kind carries the code.
TPaperType PaperTypeOfCode(int code);

}  // namespace kjrep
