#include "commandline.h"

#include <QRegularExpression>
#include <QTextStream>
#include <cmath>

namespace CommandLine {

ParseResult parse(QCommandLineParser &parser, const QString &command, const QStringList &arguments)
{
    const QCommandLineOption helpOption = parser.addHelpOption();
    if (!parser.parse(QStringList{QStringLiteral("kestrune-peer")} + arguments))
        return ParseResult::error(parser.errorText());
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"))) {
        QString text = parser.helpText();
        // The usage line names the program; put the subcommand after it.
        text.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
                     QStringLiteral("Usage: kestrune-peer ") + command);
        return ParseResult::help(text);
    }
    return ParseResult::run();
}

bool parseAddress(const QString &text, QHostAddress &address)
{
    QHostAddress parsed;
    if (!parsed.setAddress(text.trimmed()))
        return false;
    address = parsed;
    return true;
}

bool parseSeconds(const QString &text, double &seconds)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value <= 0)
        return false;
    seconds = value;
    return true;
}

QString addressOption(const QCommandLineParser &parser, const QString &name, bool required,
                      QHostAddress &address)
{
    if (!parser.isSet(name))
        return required ? QStringLiteral("--%1 ADDR is required").arg(name) : QString();
    const QString text = parser.value(name);
    if (!parseAddress(text, address))
        return QStringLiteral("--%1: '%2' is not an IP address").arg(name, text);
    return {};
}

QString secondsOption(const QCommandLineParser &parser, double &seconds)
{
    seconds = 0;
    if (!parser.isSet(QStringLiteral("seconds")))
        return {};
    const QString text = parser.value(QStringLiteral("seconds"));
    if (!parseSeconds(text, seconds))
        return QStringLiteral("--seconds: '%1' is not a positive number").arg(text);
    return {};
}

QString peerAddresses(const QCommandLineParser &parser, const QString &peerOption,
                      QHostAddress &peer, QHostAddress &bind)
{
    QString error = addressOption(parser, peerOption, true, peer);
    if (error.isEmpty())
        error = addressOption(parser, QStringLiteral("bind"), false, bind);
    if (error.isEmpty() && !bind.isNull() && bind.protocol() != peer.protocol())
        error = QStringLiteral("--bind %1 cannot reach %2: the address families differ")
                    .arg(bind.toString(), peer.toString());
    return error;
}

QHostAddress anyAddressFor(const QHostAddress &peer)
{
    return QHostAddress(peer.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress::AnyIPv6
                                                                         : QHostAddress::AnyIPv4);
}

QString addressText(const QHostAddress &address)
{
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    return isIpv4 ? QHostAddress(ipv4).toString() : address.toString();
}

int report(const ParseResult &result, const QString &command)
{
    switch (result.kind) {
    case ParseResult::Kind::Run:
        return -1;
    case ParseResult::Kind::Help:
        QTextStream(stdout) << result.text;
        return 0;
    case ParseResult::Kind::Error:
        QTextStream(stderr) << "kestrune-peer " << command << ": " << result.text
                            << " (see kestrune-peer " << command << " --help)\n";
        return exitUsage;
    }
    return exitUsage;
}

} // namespace CommandLine
