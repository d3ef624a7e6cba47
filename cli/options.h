#pragma once

// The command line of feederbench-cli: what the engineer (or the line's
// station script) asked for, read from the arguments and checked before
// anything is opened or sent.

#include "device/operations.h"
#include "serial/port.h"
#include "serial/replytiming.h"

#include <QString>
#include <QStringList>
#include <QVector>

enum class CliCommand { None, Ports, Read, Switch, ReadMac, WriteMac, Reset, Test };

struct CliOptions
{
    CliCommand command = CliCommand::None;
    bool help = false;
    bool version = false;
    bool json = false;    // one JSON document on standard output, nothing else there
    bool verbose = false; // every request and reply on standard error

    QString port;
    LineSettings line;
    int timeoutMs = kReplyTimeoutMs;
    bool echo = false; // the line hands every request back (a two-wire RS-485 adapter)
    QString configFile = QStringLiteral("config.ini"); // in the working directory, as the window
    bool configGiven = false;

    QVector<int> modules;       // the modules to work on, in order
    bool modulesGiven = false;  // --module was on the line
    QVector<quint16> registers; // read: base registers named; empty = the whole list
    SwitchCommand switchCommand = SwitchCommand::Close;

    // The service commands
    QString sn;  // the unit's serial number, for the record (write-mac: looked up in mac.csv)
    QString mac; // write-mac: the address as given
    QString macTableFile = QStringLiteral("mac.csv"); // in the working directory, as the window
    bool macTableGiven = false;

    // test
    QString planFile = QStringLiteral("plan.ini"); // in the working directory, as the window
};

// Reads arguments (without the program's own name). False with the reason in
// *error when they are not a command line of this program; options->json is
// set as soon as --json is seen, so that even a refusal can be a JSON document.
bool parseArguments(const QStringList &arguments, CliOptions *options, QString *error);

// The name a command has on the command line and in JSON ("read").
QString commandName(CliCommand command);
// "close", "remote-on"…: a switching command's name on the command line and in JSON.
QString switchCommandKey(SwitchCommand command);

// What --help prints.
QString helpText();
