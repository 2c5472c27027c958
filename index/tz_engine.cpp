#include "index/tz_engine.h"

#include "expr/expr_parser.h"
#include "index/tz_ndx.h"
#include "storage/tz_storage.h"

namespace TzEngine {

void Startup() {
    TzStorage::Startup();
    TzNdx::Install();
}

void Reset() {
    TzStorage::Reset();
    TzParser::ResetState();
    TzNdx::ResetState();
    Startup();
}

}  // namespace TzEngine
