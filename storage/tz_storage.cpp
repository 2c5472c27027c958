#include "storage/tz_storage.h"

#include "storage/dates.h"
#include "storage/dbf4.h"
#include "storage/file_layer.h"
#include "storage/memo.h"
#include "storage/tz_common.h"
#include "storage/vfiles.h"

namespace TzStorage {

void Startup() {
    Memo::Install();
    VFiles::Install();
}

void Reset() {
    Dbf4::ResetState();  // first: closing the areas still needs their hooks
    Dbf4::RemoveHooks();
    Memo::ResetState();
    TzCommon::ResetDateSettings();
    TzCommon::ResetErrorState();
    tz::SetFaultInjector(nullptr);
}

}  // namespace TzStorage
