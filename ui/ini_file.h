// INI files as the program reads and writes them: Windows-1252 text with CR LF line ends,
// "[section]" headers and "key=value" lines. Section and key names compare without regard
// to case (Windows-1252 casing, so "PapirStørrelse" matches "PAPIRSTØRRELSE"); blanks
// around keys and values are ignored when read. Lines that are not entries (comments
// starting with ";", blank lines, anything else) are kept where they stand.
//  1. Changing a key rewrites its line in place; the key keeps its spelling and position.
//  2. A new key goes after the last entry of its section; a new section at the end of the
//     file, after a blank line.
//  3. TIniFile writes the file at every change; TMemIniFile only on UpdateFile.
//  4. The first of two entries with the same key is the one read and written.
// Text in and out is Windows-1252 (engine strings). Single-threaded.
#pragma once

#include <string>
#include <vector>

namespace kjqt {

class TMemIniFile {
  public:
    // Reads the file when it exists (resolving the name's case like every other open).
    explicit TMemIniFile(const std::string& fileName);
    virtual ~TMemIniFile() = default;

    const std::string& FileName() const { return fileName_; }

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    int ReadInteger(const std::string& section, const std::string& key, int def) const;
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    void WriteBool(const std::string& section, const std::string& key, bool value);

    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;
    // Keys of the section in file order.
    std::vector<std::string> ReadSection(const std::string& section) const;
    // "key=value" of every entry of the section in file order (blanks around both removed).
    std::vector<std::string> ReadSectionValues(const std::string& section) const;
    std::vector<std::string> ReadSections() const;
    void EraseSection(const std::string& section);
    void DeleteKey(const std::string& section, const std::string& key);

    // Writes the file (beside it, renamed into place; not at all when unchanged); false
    // when it cannot be written.
    bool UpdateFile();

  protected:
    virtual void Changed() {}

  private:
    struct Line {
        std::string text;     // as in the file, without CR LF
        std::string section;  // for a header: its name
        std::string key;      // for an entry: its key, trimmed
        std::string value;    // for an entry: its value, trimmed
        enum Kind { Other, Header, Entry } kind = Other;
    };
    static Line Parse(const std::string& text);
    // Index of the section's header, -1 when absent; `end` receives the index after its
    // last line (the next header or the end of the file).
    int FindSection(const std::string& section, int* end = nullptr) const;
    int FindKey(const std::string& section, const std::string& key) const;

    std::string fileName_;
    std::vector<Line> lines_;
};

// Writes the file at every change.
class TIniFile : public TMemIniFile {
  public:
    using TMemIniFile::TMemIniFile;

  protected:
    void Changed() override { UpdateFile(); }
};

}  // namespace kjqt
