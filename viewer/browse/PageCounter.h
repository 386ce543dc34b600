// TPageCounter: reads how many pages files have, from their headers only (the TIFF
// directory count; 1 for every other format), one file after another on a worker of its
// own, so a page step never waits for pixels to learn where the next page is. The files
// are read in the order given; Prefer moves one to the front. A file that cannot be read
// counts as one page: its page shows the reason when it is asked for.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <deque>

class TPageCounter : public QObject {
    Q_OBJECT
public:
    explicit TPageCounter(QObject* parent = nullptr);
    // Waits for the header read under way (one file's header: short).
    ~TPageCounter() override;

    // The files to count, most wanted first; replaces what was still waiting.
    void Count(const QStringList& APaths);
    // This file next, when it is still waiting.
    void Prefer(const QString& APath);
    // Nothing more to count (another search, a hide).
    void Stop();
    // Files waiting, the one being read included.
    int Waiting() const { return static_cast<int>(FQueue.size()) + FRunning; }

signals:
    // AFailed: the header could not be read; ACount is then 1.
    void Counted(const QString& APath, int ACount, bool AFailed);

private:
    struct TCount {
        QString Path;
        int Count = 1;
        bool Failed = false;
    };
    // A batch: at most this many files, read for at most about this long.
    static constexpr int kBatchFiles = 256;
    static constexpr int kBatchMs = 20;
    void Next();

    QThreadPool FPool;
    std::deque<QString> FQueue;
    int FRunning = 0;         // files handed to the worker and not answered yet
    int FGeneration = 0;      // bumped by Stop: what a batch under way read is dropped
    int FQueueGeneration = 0; // bumped by Count: what a batch under way left is dropped
};
