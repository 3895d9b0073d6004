#pragma once

#include <QString>

// The program broadcasts to every subnet it can see, so tests that open its sockets must
// run where nothing can leave the machine: a network namespace holding only the loopback
// interface and test interfaces of our own (named "kt*").
namespace TestNetwork {

// Empty when the process is in such a namespace; otherwise why it is not.
QString whyNotPrivate();

} // namespace TestNetwork

#define KESTRUNE_REQUIRE_PRIVATE_NETWORK()                                                  \
    do {                                                                                   \
        const QString why = TestNetwork::whyNotPrivate();                                  \
        if (!why.isEmpty())                                                                \
            QFAIL(qPrintable("refusing to run outside a private network namespace: " + why)); \
    } while (false)
