#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QCommandLineParser>
#include <QStringList>

/**
 * The program's options. Those that answer and exit (--show-key, the printer switches,
 * --tls-material, --help) only read and write the settings and the TLS folder: they need
 * no display, start no server and work beside a running instance.
 */
class CommandLine
{
public:
    /** Parses the raw arguments; Qt's own options are looked at again by parseAgain(). */
    explicit CommandLine(const QStringList& arguments);

    /** Whether the program answers and exits instead of running. */
    bool exitsAtOnce() const;
    /** Answers: prints to stdout (errors to stderr) and gives the exit code. */
    int run();

    bool acceptTerms() const;
    bool debugMode() const;
    /** After the application took its own options: the parse error, if any. */
    QString parseAgain(const QStringList& arguments);

    /** Records the acceptance of the terms of use as the window's button does. */
    static void recordAcceptance();

private:
    int listPrinters();
    int switchPrinter(const QString& name, bool on);
    int showKey();
    int tlsMaterial();

    QCommandLineParser parser;
    bool parsed = false;
};

#endif
