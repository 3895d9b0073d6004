#pragma once

#include <QObject>
#include <QTimer>

// Turns Ctrl+C (SIGINT) and SIGTERM into the stopRequested signal on the owner thread. The
// handler only sets a flag; a short timer looks at it, so nothing unsafe runs inside the
// handler. One instance per process.
class StopSignal : public QObject
{
    Q_OBJECT
public:
    explicit StopSignal(QObject *parent = nullptr);
    ~StopSignal() override;

signals:
    void stopRequested();

private:
    QTimer poll;
};
