// Independent read-back for the tests of moves between tables (time-sheet transfer,
// archive, restore) after helper stations were killed: python3-dbfread reads a table and
// each row's chosen fields are counted; a data folder is copied for another run.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <map>
#include <memory>
#include <string>

#include "app_fixture.h"

namespace kjapptest {

// The rows that python3-dbfread sees in a table (deleted rows left out), as the chosen
// fields' texts joined by "|", each with the number of times it occurs. An empty map with
// `ok` false when the reader failed.
inline std::map<std::string, int> DbfRows(const std::string& file, const QStringList& fields,
                                          bool* ok = nullptr) {
    static const char* script =
        "import sys,dbfread\n"
        "t=dbfread.DBF(sys.argv[1],encoding='cp850',char_decode_errors='replace',"
        "lowernames=True)\n"
        "for r in t:\n"
        "  print('|'.join(str(r[f] if r[f] is not None else '').strip() for f in sys.argv[2:]))\n";
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            QStringList{QStringLiteral("-c"), QString::fromLatin1(script),
                        QString::fromStdString(file)} +
                fields);
    const bool done = p.waitForFinished(60000) && p.exitCode() == 0;
    if (ok) *ok = done;
    std::map<std::string, int> rows;
    if (!done) {
        qWarning("dbfread: %s", p.readAllStandardError().constData());
        return rows;
    }
    for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
        if (!line.isEmpty()) ++rows[line.toStdString()];
    return rows;
}

inline int Total(const std::map<std::string, int>& rows) {
    int n = 0;
    for (const auto& [row, count] : rows) n += count;
    return n;
}

// Copies the files of one data folder into another.
inline void CopyFolderFiles(const std::string& from, const std::string& to) {
    QDir().mkpath(QString::fromStdString(to));
    const QDir src(QString::fromStdString(from));
    for (const QString& name : src.entryList(QDir::Files))
        QFile::copy(src.filePath(name), QString::fromStdString(to) + name);
}

}  // namespace kjapptest
