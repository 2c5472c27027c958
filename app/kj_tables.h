// The application's stored data model: every table file with its field list (DbfFields
// form), its tag list (IndexList form), the folder it lies in and the display settings of
// its field objects. The data module builds its components from these; the benchmarks'
// folder generator and the tests use the same definitions. No Qt; plain data.
#pragma once

#include <string>
#include <vector>

namespace kj {

enum class Folder { Data, System };

// One field: its DbfFields line and the field object's display settings.
struct FieldSpec {
    std::string line;       // "name, T, len, dec"
    std::string label;      // display label; empty: the field name
    std::string mask;       // edit mask; empty: the field type's default
    bool currency = false;  // float shown as currency
    bool jaNej = false;     // logical shown "Ja"/"Nej"
};

struct TableSpec {
    std::string component;  // the data module's component, e.g. "SagsDbf"
    std::string file;       // e.g. "Sager.dbf"
    Folder folder = Folder::Data;
    std::vector<FieldSpec> fields;
    std::vector<std::string> tags;  // IndexList form: tag line, empty FOR line
    // The DbfFields lines of the field list.
    std::vector<std::string> DbfFields() const;
};

// Every table component with a field and index list, in the data module's order: the
// live tables, the scratch tables and the archives (the second cursors share their
// table's fields and have no index list of their own).
const std::vector<TableSpec>& Tables();
// The definition of one component by name (a second cursor gives its table's); nullptr
// when unknown.
const TableSpec* FindTable(const std::string& component);

}  // namespace kj
