#pragma once

#include <QCommandLineParser>
#include <QHostAddress>
#include <QString>
#include <QStringList>

// What parsing a subcommand's arguments came to.
struct ParseResult
{
    enum class Kind
    {
        Run,
        Help,
        Error
    };

    Kind kind = Kind::Run;
    QString text; // the help text, or a one-line error message

    static ParseResult run() { return {}; }
    static ParseResult help(const QString &text) { return {Kind::Help, text}; }
    static ParseResult error(const QString &message) { return {Kind::Error, message}; }
};

namespace CommandLine {

// Exit codes: 0 done, 1 a failure while running, 2 bad arguments.
constexpr int exitFailure = 1;
constexpr int exitUsage = 2;

// A parser for one subcommand with its --help option. arguments are what follows the
// subcommand's name. Run means the caller may now read and check the options.
ParseResult parse(QCommandLineParser &parser, const QString &command, const QStringList &arguments);

// Numeric IPv4 or IPv6 addresses only: the peer never resolves names.
bool parseAddress(const QString &text, QHostAddress &address);
// A positive, finite number of seconds.
bool parseSeconds(const QString &text, double &seconds);

// Reads the address option name into address; an error message when it is missing
// (required) or not an address, else empty.
QString addressOption(const QCommandLineParser &parser, const QString &name, bool required,
                      QHostAddress &address);
// Reads --seconds into seconds (0 when absent); an error message or empty.
QString secondsOption(const QCommandLineParser &parser, double &seconds);
// Reads the required address option peerOption into peer and the optional --bind into bind;
// --bind must be of the family of the peer, or it could never reach it. An error message
// or empty.
QString peerAddresses(const QCommandLineParser &parser, const QString &peerOption,
                      QHostAddress &peer, QHostAddress &bind);

// The wildcard address of peer's family, for sockets without --bind.
QHostAddress anyAddressFor(const QHostAddress &peer);
// The sender's address as text, with IPv4-mapped IPv6 addresses written as dotted IPv4.
QString addressText(const QHostAddress &address);

// Prints help to stdout (0) or the error to stderr (exitUsage); -1 for Run.
int report(const ParseResult &result, const QString &command);

} // namespace CommandLine
