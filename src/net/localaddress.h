#pragma once

#include <QString>

// The address the window shows as this computer's: its first IPv4 address other than
// loopback, which is what a user types into a phone; empty when it has none.
QString localIPv4Address();
