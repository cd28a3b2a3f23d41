#pragma once

#include <QString>
#include <QStringList>

// Finds and opens a module of this program: a part built as a shared object
// of its own and loaded on first use, so that a start does not pay for the
// libraries only that part needs. A module, once opened, stays for the rest
// of the process.
//
// A module is looked for, in order: at the path in its environment variable
// when that is set (tests and benchmarks point it at their build), beside the
// executable (a build tree), and in the library folder of an installed copy
// (<prefix>/lib/.../reqlark/, reached from <prefix>/bin).
class ProgramModule
{
public:
    // `pathVariable`: the environment variable naming the module's file;
    // `fileName`: its file name; `kind`: what it is, as the messages say it
    // ("a browser module"); `failure`: the start of every message raised
    // ("The browser cannot be started: ").
    ProgramModule(const char* pathVariable, const QString& fileName, const QString& kind,
                  const QString& failure);

    // The files tried for a program at `executablePath`, in order.
    QStringList candidates(const QString& executablePath) const;

    // The first of the running program's candidates that exists. Throws
    // ReqlarkError naming every file tried when there is none.
    QString find() const;

    // Opens the module at `path` and gives the address of its exported
    // `entry`. Throws ReqlarkError naming the file and the system's reason
    // when it cannot be loaded or does not export `entry`.
    void* open(const QString& path, const char* entry) const;

    // Raises ReqlarkError: `failure` followed by `reason`.
    [[noreturn]] void fail(const QString& reason) const;

    // The module at `path` was made for another version of the interface.
    [[noreturn]] void failVersion(const QString& path) const;

    // The running program's own file, also where there is no application
    // object (benchmarks, command-line tools).
    static QString executablePath();

private:
    const char* m_pathVariable;
    QString m_fileName;
    QString m_kind;
    QString m_failure;
};
