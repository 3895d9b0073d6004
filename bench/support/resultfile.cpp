#include "resultfile.h"

#include <QFile>
#include <QJsonDocument>
#include <cstdio>

namespace ResultFile {

QJsonObject toJson(const Distribution &distribution)
{
    return {{"count", qint64(distribution.count)},
            {"median", distribution.median},
            {"p90", distribution.p90},
            {"p95", distribution.p95},
            {"max", distribution.max}};
}

bool write(const QString &path, const QJsonObject &results)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(QJsonDocument(results).toJson()) < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace ResultFile
