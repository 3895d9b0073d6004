#pragma once

#include "distribution.h"

#include <QJsonObject>
#include <QString>

// The figures of one benchmark run, written as JSON for bench/report.py to put in the table.
namespace ResultFile {

QJsonObject toJson(const Distribution &distribution);
// Writes results to path; false (with a message on stderr) when it cannot.
bool write(const QString &path, const QJsonObject &results);

} // namespace ResultFile
