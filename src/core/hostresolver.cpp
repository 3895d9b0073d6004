#include "core/hostresolver.h"

#include <QHostInfo>

HostResolver::HostResolver(QObject *parent) : QObject(parent) {}

HostResolver::~HostResolver()
{
    cancel();
}

void HostResolver::resolve(const QString &host, Answer answer)
{
    cancel();
    const QHostAddress literal(host);
    if (!literal.isNull()) {
        answer({literal});
        return;
    }
    pendingAnswer = std::move(answer);
    lookupId = QHostInfo::lookupHost(host, this, SLOT(looked(QHostInfo)));
}

void HostResolver::cancel()
{
    if (lookupId >= 0)
        QHostInfo::abortHostLookup(lookupId);
    lookupId = -1;
    pendingAnswer = nullptr;
}

void HostResolver::looked(const QHostInfo &info)
{
    // An answer to a lookup that was dropped meanwhile.
    if (info.lookupId() != lookupId)
        return;
    lookupId = -1;
    const Answer answer = std::move(pendingAnswer);
    pendingAnswer = nullptr;
    answer(info.error() == QHostInfo::NoError ? info.addresses() : QList<QHostAddress>());
}
