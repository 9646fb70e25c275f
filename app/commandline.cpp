#include "commandline.h"

#include "printclient.h"
#include "printer.h"
#include "settingskeys.h"
#include "tlsmaterial.h"

#include <QCoreApplication>
#include <QSettings>
#include <cstdio>
#include <cups/cups.h>

namespace {
const QString acceptTermsOption = QStringLiteral("accept-terms");
const QString showKeyOption = QStringLiteral("show-key");
const QString listPrintersOption = QStringLiteral("list-printers");
const QString enablePrinterOption = QStringLiteral("enable-printer");
const QString disablePrinterOption = QStringLiteral("disable-printer");
const QString tlsMaterialOption = QStringLiteral("tls-material");

void print(FILE* stream, const QString& line)
{
    fprintf(stream, "%s\n", line.toLocal8Bit().constData());
}

// The queues as the program's printer list names them ("queue/instance" for instances).
bool printerNames(QStringList* names, QString* error)
{
    cups_dest_t* destinations = nullptr;
    const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &destinations);
    if (count == 0 && cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE &&
        cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND) {
        *error = QString::fromLocal8Bit(cupsLastErrorString());
        return false;
    }
    for (int i = 0; i < count; ++i) {
        QString name = QString::fromLocal8Bit(destinations[i].name);
        if (destinations[i].instance) {
            name += QLatin1Char('/') + QString::fromLocal8Bit(destinations[i].instance);
        }
        names->append(name);
    }
    cupsFreeDests(count, destinations);
    return true;
}

QString printerKey(const QString& name)
{
    return QStringLiteral("printers/") + Printer::hashFor(name);
}
} // namespace

CommandLine::CommandLine(const QStringList& arguments)
{
    parser.setApplicationDescription(
        QStringLiteral("Printarra lets the web point of sale reach this machine's receipt "
                       "printers and payment terminals over HTTPS."));
    parser.addHelpOption();
    parser.addOptions({
        {acceptTermsOption,
         QStringLiteral("Accept the terms of use (as the window's button does) and serve.")},
        {showKeyOption, QStringLiteral("Print the security key the web application needs, "
                                       "making one if there is none, and exit.")},
        {listPrintersOption,
         QStringLiteral("Print each printer and whether the web application may use it "
                        "(on/off), and exit.")},
        {enablePrinterOption, QStringLiteral("Let the web application use the printer, and exit."),
         QStringLiteral("name")},
        {disablePrinterOption,
         QStringLiteral("Keep the web application from the printer, and exit."),
         QStringLiteral("name")},
        {tlsMaterialOption,
         QStringLiteral("Make this installation's TLS material current, print the path of its "
                        "root CA certificate, and exit.")},
    });
    parser.addPositionalArgument(QStringLiteral("DebugModeOn"),
                                 QStringLiteral("Keep a log of the program's messages, shown in "
                                                "the window."),
                                 QStringLiteral("[DebugModeOn]"));
    parsed = parser.parse(arguments);
}

bool CommandLine::exitsAtOnce() const
{
    for (const QString& option : {showKeyOption, listPrintersOption, enablePrinterOption,
                                  disablePrinterOption, tlsMaterialOption}) {
        if (parser.isSet(option)) {
            return true;
        }
    }
    return parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"));
}

bool CommandLine::acceptTerms() const
{
    return parser.isSet(acceptTermsOption);
}

bool CommandLine::debugMode() const
{
    return parser.positionalArguments().contains(QStringLiteral("DebugModeOn"));
}

QString CommandLine::parseAgain(const QStringList& arguments)
{
    parsed = parser.parse(arguments);
    return parsed ? QString() : parser.errorText();
}

void CommandLine::recordAcceptance()
{
    QSettings settings;
    settings.setValue(SettingsKeys::licenseAccepted, true);
    settings.sync();
}

int CommandLine::run()
{
    if (!parsed) {
        print(stderr, QStringLiteral("printarra: %1 (printarra --help lists the options)")
                          .arg(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help-all"))) {
        parser.process(QCoreApplication::arguments()); // prints Qt's options too, and exits
    }
    if (parser.isSet(QStringLiteral("help"))) {
        fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (acceptTerms()) {
        recordAcceptance();
    }
    int result = 0;
    if (result == 0 && parser.isSet(enablePrinterOption)) {
        result = switchPrinter(parser.value(enablePrinterOption), true);
    }
    if (result == 0 && parser.isSet(disablePrinterOption)) {
        result = switchPrinter(parser.value(disablePrinterOption), false);
    }
    if (result == 0 && parser.isSet(listPrintersOption)) {
        result = listPrinters();
    }
    if (result == 0 && parser.isSet(showKeyOption)) {
        result = showKey();
    }
    if (result == 0 && parser.isSet(tlsMaterialOption)) {
        result = tlsMaterial();
    }
    return result;
}

int CommandLine::listPrinters()
{
    QStringList names;
    QString error;
    if (!printerNames(&names, &error)) {
        print(stderr, QStringLiteral("printarra: cannot reach the print system: %1").arg(error));
        return 1;
    }
    const QSettings settings;
    for (const QString& name : qAsConst(names)) {
        const bool on = settings.value(printerKey(name), false).toBool();
        print(stdout, name + QLatin1Char('\t') + (on ? "on" : "off"));
    }
    return 0;
}

int CommandLine::switchPrinter(const QString& name, bool on)
{
    QStringList names;
    QString error;
    if (!printerNames(&names, &error)) {
        print(stderr, QStringLiteral("printarra: cannot reach the print system: %1").arg(error));
        return 1;
    }
    if (!names.contains(name)) {
        print(stderr, QStringLiteral("printarra: there is no printer \"%1\" "
                                     "(printarra --list-printers shows them)")
                          .arg(name));
        return 1;
    }
    QSettings settings;
    settings.setValue(printerKey(name), on);
    settings.sync();
    return settings.status() == QSettings::NoError ? 0 : 1;
}

int CommandLine::showKey()
{
    // The same key a first start would make, kept for the window and the server.
    QSettings settings;
    const QString stored = settings.value(SettingsKeys::securityKey).toString();
    const QString key =
        stored.isEmpty() ? PrintClient::makeSecurityKey() : PrintClient::withVersionSuffix(stored);
    if (key != stored) {
        settings.setValue(SettingsKeys::securityKey, key);
        settings.sync();
    }
    print(stdout, key);
    return 0;
}

int CommandLine::tlsMaterial()
{
    TlsMaterial material;
    if (material.ensure() == TlsMaterial::Outcome::Failed) {
        print(stderr,
              QStringLiteral("printarra: cannot make the TLS material: %1").arg(material.error()));
        return 1;
    }
    print(stdout, material.rootCaPath());
    return 0;
}
