// The engine's error codes, by name, and the text each one is shown with.
// Every unit reports its failures with these codes (TzCommon::SetError); ErrorText shows
// "Error # <code> (<text>)", and a code without a text of its own shows "Undefined error"
// (1203..1299: "Network Error"). The numbers are those other stations and the users know:
// never renumber a code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace TzErr {

using Code = uint16_t;

inline constexpr Code None = 0;

// Operating-system and network failures.
inline constexpr Code InvalidFunction = 1;
inline constexpr Code FileNotFound = 2;
inline constexpr Code PathNotFound = 3;
inline constexpr Code TooManyOpenFiles = 4;
inline constexpr Code AccessDenied = 5;
inline constexpr Code InvalidHandle = 6;
inline constexpr Code NotEnoughMemory = 8;
inline constexpr Code InvalidBlockAddress = 9;
inline constexpr Code InvalidEnvironment = 10;
inline constexpr Code InvalidFormat = 11;
inline constexpr Code InvalidAccessCode = 12;
inline constexpr Code InvalidData = 13;
inline constexpr Code UnknownUnitReserved = 14;
inline constexpr Code InvalidDrive = 15;
inline constexpr Code CannotRemoveCurrentDir = 16;
inline constexpr Code NotSameDevice = 17;
inline constexpr Code NoMoreFiles = 18;
inline constexpr Code WriteProtected = 19;
inline constexpr Code UnknownUnit = 20;
inline constexpr Code DriveNotReady = 21;
inline constexpr Code UnknownCommand = 22;
inline constexpr Code CrcError = 23;
inline constexpr Code BadRequestLength = 24;
inline constexpr Code SeekError = 25;
inline constexpr Code UnknownMedia = 26;
inline constexpr Code SectorNotFound = 27;
inline constexpr Code OutOfPaper = 28;
inline constexpr Code WriteFault = 29;
inline constexpr Code ReadFault = 30;
inline constexpr Code GeneralFailure = 31;
inline constexpr Code SharingViolation = 32;
inline constexpr Code LockViolation = 33;
inline constexpr Code InvalidDiskChange = 34;
inline constexpr Code FcbUnavailable = 35;
inline constexpr Code SharingBufferOverflow = 36;
inline constexpr Code NetworkRequestUnsupported = 50;
inline constexpr Code RemoteNotListening = 51;
inline constexpr Code DuplicateNetworkName = 52;
inline constexpr Code NetworkNameNotFound = 53;
inline constexpr Code NetworkBusy = 54;
inline constexpr Code NetworkDeviceGone = 55;
inline constexpr Code NetBiosLimit = 56;
inline constexpr Code NetworkAdapterError = 57;
inline constexpr Code IncorrectNetworkResponse = 58;
inline constexpr Code UnexpectedNetworkError = 59;
inline constexpr Code RemoteAdapterIncompatible = 60;

// Input/output failures.
inline constexpr Code DiskReadError = 100;
inline constexpr Code DiskWriteError = 101;
inline constexpr Code FileNotAssigned = 102;
inline constexpr Code FileNotOpen = 103;
inline constexpr Code FileNotOpenForInput = 104;
inline constexpr Code FileNotOpenForOutput = 105;
inline constexpr Code InvalidNumericFormat = 106;
inline constexpr Code DiskWriteProtected = 150;
inline constexpr Code DeviceUnknownUnit = 151;
inline constexpr Code DeviceNotReady = 152;
inline constexpr Code DeviceUnknownCommand = 153;
inline constexpr Code DeviceCrcError = 154;
inline constexpr Code DeviceBadRequestLength = 155;
inline constexpr Code DeviceSeekError = 156;
inline constexpr Code DeviceUnknownMedia = 157;
inline constexpr Code DeviceSectorNotFound = 158;
inline constexpr Code PrinterOutOfPaper = 159;
inline constexpr Code DeviceWriteFault = 160;
inline constexpr Code DeviceReadFault = 161;
inline constexpr Code DeviceSharingViolation = 162;

// Run-time and table-engine failures.
inline constexpr Code DivisionByZero = 200;
inline constexpr Code RangeCheck = 201;
inline constexpr Code StackOverflow = 202;
inline constexpr Code HeapOverflow = 203;
inline constexpr Code InvalidPointerOperation = 204;
inline constexpr Code FloatOverflow = 205;
inline constexpr Code FloatUnderflow = 206;
inline constexpr Code InvalidFloatOperation = 207;
inline constexpr Code OverlayManagerMissing = 208;
inline constexpr Code OverlayReadError = 209;
inline constexpr Code NotADbaseFile = 210;
inline constexpr Code InvalidFieldType = 211;
inline constexpr Code RequestBeyondRange = 212;
inline constexpr Code UnexpectedEndOfFile = 213;
inline constexpr Code FileInUse = 214;
inline constexpr Code NoDatabaseInUse = 215;
inline constexpr Code GpFault = 216;
inline constexpr Code InsufficientMemory = 217;
inline constexpr Code InvalidPointer = 218;
inline constexpr Code CannotDuplicateHandle = 219;
inline constexpr Code InvalidParameter = 220;
inline constexpr Code IndexNotOpen = 221;
inline constexpr Code CorruptedIndex = 222;
inline constexpr Code IndexVersionMismatch = 223;
inline constexpr Code CyclicalRelation = 224;
inline constexpr Code ExclusiveUseRequired = 225;
inline constexpr Code BrowseNotActive = 226;
inline constexpr Code InsufficientDiskSpace = 227;
inline constexpr Code UnbalancedPushPop = 228;
inline constexpr Code Dbase4MemoUnsupported = 229;
inline constexpr Code NoMemoryVariables = 230;
inline constexpr Code ScreenLibraryNotOpen = 231;
inline constexpr Code TimeMissingColon = 239;
inline constexpr Code TimeNonNumeric = 240;
inline constexpr Code InvalidTime = 241;
inline constexpr Code NegativeTime = 242;
inline constexpr Code NegativeTimeDiff = 243;
inline constexpr Code InternalError = 254;
inline constexpr Code InvalidSize = 266;

// Memo files.
inline constexpr Code InvalidMemoAddress = 1003;
inline constexpr Code DiskFull = 1004;
inline constexpr Code MemoWriteError = 1005;
inline constexpr Code MemoAlreadyOpen = 1007;
inline constexpr Code MemoPackDiskSpace = 1012;
inline constexpr Code MemoLockFailed = 1017;
inline constexpr Code MemoUnlockFailed = 1018;
inline constexpr Code InvalidMemoOperation = 1019;

// Virtual files.
inline constexpr Code InvalidListOperation = 1100;
inline constexpr Code VirtualUnitMissing = 1101;
inline constexpr Code VirtualMemoryError = 1102;
inline constexpr Code InvalidOperation = 1103;

// Locks and semaphore files.
inline constexpr Code RecordNotLocked = 1200;
inline constexpr Code FileNotLocked = 1201;
inline constexpr Code SemaphoreError = 1202;

// File formats.
inline constexpr Code FormatNotSupported = 1300;

// Network failures without a text of their own.
inline constexpr Code NetworkErrorFirst = 1203;
inline constexpr Code NetworkErrorLast = 1299;

// The expression language. Its codes have no text of their own.
inline constexpr Code ExpressionTooLong = 300;  // an index expression longer than the key may hold
inline constexpr Code ExprCodesFirst = 350;     // first code of the expression language's range
inline constexpr Code ExpressionError = 351;    // an expression did not compile
inline constexpr Code ExprPoolOverflow = 354;   // the evaluator's working pool is full
inline constexpr Code EvaluationError = 358;    // an expression failed while it was evaluated
inline constexpr Code ExprEmpty = 359;          // a key or FOR expression is empty
inline constexpr Code KeyExprTooLong = 360;     // a key expression longer than 220 characters
inline constexpr Code KeyExprType = 361;        // a key expression of type M or L
inline constexpr Code ForExprNotLogical = 362;  // a FOR condition that is not logical
inline constexpr Code ExprCodesLast = 363;      // last code of the expression language's range

struct Entry {
    Code code;
    const char* text;
};

// Every code with a text of its own, in ascending order.
inline constexpr Entry kTexts[] = {
    {InvalidFunction, "Invalid DOS function code"},
    {FileNotFound, "File not found"},
    {PathNotFound, "Path not found"},
    {TooManyOpenFiles, "Too many open files"},
    {AccessDenied, "File access denied"},
    {InvalidHandle, "Invalid file handle"},
    {NotEnoughMemory, "Not enough memory"},
    {InvalidBlockAddress, "Memory block address invalid"},
    {InvalidEnvironment, "Environment invalid"},
    {InvalidFormat, "Format invalid"},
    {InvalidAccessCode, "Invalid file access code"},
    {InvalidData, "Data invalid"},
    {UnknownUnitReserved, "Unknown unit"},
    {InvalidDrive, "Invalid drive number"},
    {CannotRemoveCurrentDir, "Cannot remove current directory"},
    {NotSameDevice, "Cannot rename across drives"},
    {NoMoreFiles, "Too many open files"},
    {WriteProtected, "Disk write-protected"},
    {UnknownUnit, "Unknown unit"},
    {DriveNotReady, "Drive not ready"},
    {UnknownCommand, "Unknown command"},
    {CrcError, "CRC error in data"},
    {BadRequestLength, "Bad drive request structure length"},
    {SeekError, "Disk seek error"},
    {UnknownMedia, "Unknown media type"},
    {SectorNotFound, "Disk sector not found"},
    {OutOfPaper, "Printer out of paper"},
    {WriteFault, "Device write fault"},
    {ReadFault, "Device read fault"},
    {GeneralFailure, "General failure"},
    {SharingViolation, "File sharing violation"},
    {LockViolation, "File lock violation"},
    {InvalidDiskChange, "Disk change invalid"},
    {FcbUnavailable, "File Control Block unavailable"},
    {SharingBufferOverflow, "File sharing buffer overflow"},
    {NetworkRequestUnsupported, "Unsupported network request"},
    {RemoteNotListening, "Remote machine not listening"},
    {DuplicateNetworkName, "Duplicate name on network"},
    {NetworkNameNotFound, "Network name not found"},
    {NetworkBusy, "Network busy"},
    {NetworkDeviceGone, "Device no longer exists on network"},
    {NetBiosLimit, "Net-Bios command limit exceeded"},
    {NetworkAdapterError, "Error in network adapter hardware"},
    {IncorrectNetworkResponse, "Incorrect response from network"},
    {UnexpectedNetworkError, "Unexpected network error"},
    {RemoteAdapterIncompatible, "Remote adapter incompatible"},
    {DiskReadError, "Disk read error"},
    {DiskWriteError, "Disk write error (probable cause: Disk Full)."},
    {FileNotAssigned, "File not assigned"},
    {FileNotOpen, "File not open"},
    {FileNotOpenForInput, "File not open for input"},
    {FileNotOpenForOutput, "File not open for output"},
    {InvalidNumericFormat, "Invalid numeric format"},
    {DiskWriteProtected, "Disk write-protected"},
    {DeviceUnknownUnit, "Unknown unit"},
    {DeviceNotReady, "Drive not ready"},
    {DeviceUnknownCommand, "Unknown command"},
    {DeviceCrcError, "CRC error in data"},
    {DeviceBadRequestLength, "Bad drive request structure length"},
    {DeviceSeekError, "Disk seek error"},
    {DeviceUnknownMedia, "Unknown media type"},
    {DeviceSectorNotFound, "Disk sector not found"},
    {PrinterOutOfPaper, "Printer out of paper"},
    {DeviceWriteFault, "Device write fault"},
    {DeviceReadFault, "Device read fault"},
    {DeviceSharingViolation, "File sharing violation"},
    {DivisionByZero, "Division by zero error"},
    {RangeCheck, "Range check error"},
    {StackOverflow, "Stack overflow error"},
    {HeapOverflow, "Heap overflow error"},
    {InvalidPointerOperation, "Invalid pointer operation"},
    {FloatOverflow, "Floating point overflow"},
    {FloatUnderflow, "Floating point underflow"},
    {InvalidFloatOperation, "Invalid floating point operation"},
    {OverlayManagerMissing, "Overlay-manager not installed"},
    {OverlayReadError, "Overlay file read error"},
    {NotADbaseFile, "Not a dBASE data file"},
    {InvalidFieldType, "Invalid database field type encountered"},
    {RequestBeyondRange, "Request beyond range"},
    {UnexpectedEndOfFile, "End of file found unexpectedly"},
    {FileInUse, "File already in use"},
    {NoDatabaseInUse, "No database in use"},
    {GpFault, "GP Fault"},
    {InsufficientMemory, "Insufficient memory"},
    {InvalidPointer, "Invalid pointer specified"},
    {CannotDuplicateHandle, "Cannot duplicate file handle"},
    {InvalidParameter, "Invalid parameter"},
    {IndexNotOpen, "Index file not open"},
    {CorruptedIndex, "Corrupted index file"},
    {IndexVersionMismatch, "Index version mismatch"},
    {CyclicalRelation, "Cyclical relationship detected"},
    {ExclusiveUseRequired, "Exclusive Use() required"},
    {BrowseNotActive, "BROWSE not active"},
    {InsufficientDiskSpace, "Insufficient disk space "},
    {UnbalancedPushPop, "Unbalanced Push/Pop operation "},
    {Dbase4MemoUnsupported, "dBASE IV memo files not supported"},
    {NoMemoryVariables, "No dBASE memory variables loaded"},
    {ScreenLibraryNotOpen, "Screen library not open"},
    {TimeMissingColon, "Missing colon in time"},
    {TimeNonNumeric, "Non-numeric character in time"},
    {InvalidTime, "Invalid time specified"},
    {NegativeTime, "Negative time specified"},
    {NegativeTimeDiff, "TimeDiff result negative"},
    {InternalError, "Table engine internal error"},
    {InvalidSize, "Invalid size"},
    {InvalidMemoAddress, "Invalid memo address"},
    {DiskFull, "Disk full"},
    {MemoWriteError, "Memo file write error"},
    {MemoAlreadyOpen, "Memo file is already open"},
    {MemoPackDiskSpace, "Insufficient disk space to pack memo file"},
    {MemoLockFailed, "Cannot lock memo file"},
    {MemoUnlockFailed, "Cannot unlock memo file"},
    {InvalidMemoOperation,
     "Invalid memo operation: database not open or no memo field "
     "in database"},
    {InvalidListOperation, "Not a valid operation on Linked List"},
    {VirtualUnitMissing, "Virtual File Manager Unit not Linked in"},
    {VirtualMemoryError, "Virtual File Memory Management Error"},
    {InvalidOperation, "Invalid Operation "},
    {RecordNotLocked, "Record not locked"},
    {FileNotLocked, "File not locked"},
    {SemaphoreError,
     "Semaphore file error. Possible solutions: log into network "
     "or load SHARE.EXE before running Windows"},
    {FormatNotSupported, "File format not supported"},
};

// The text of code; null when it has none of its own.
constexpr const char* OwnText(Code code) {
    std::size_t lo = 0, hi = sizeof kTexts / sizeof kTexts[0];
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (kTexts[mid].code == code) return kTexts[mid].text;
        if (kTexts[mid].code < code)
            lo = mid + 1;
        else
            hi = mid;
    }
    return nullptr;
}

constexpr bool Ascending() {
    for (std::size_t i = 1; i < sizeof kTexts / sizeof kTexts[0]; ++i)
        if (kTexts[i - 1].code >= kTexts[i].code) return false;
    return true;
}
static_assert(Ascending(), "kTexts must stay in ascending order of code");

}  // namespace TzErr
