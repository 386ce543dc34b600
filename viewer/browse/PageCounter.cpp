#include "viewer/browse/PageCounter.h"

#include "viewer/ImageDecoding.h"

#include <QElapsedTimer>
#include <QList>
#include <QPointer>

#include <algorithm>

TPageCounter::TPageCounter(QObject* parent) : QObject(parent) {
    FPool.setMaxThreadCount(1);
}

TPageCounter::~TPageCounter() {
    FQueue.clear();
    FPool.waitForDone();
}

void TPageCounter::Count(const QStringList& APaths) {
    FQueue.assign(APaths.begin(), APaths.end());
    ++FQueueGeneration; // what a batch under way leaves is not this list's
    Next();
}

void TPageCounter::Prefer(const QString& APath) {
    const auto found = std::find(FQueue.begin(), FQueue.end(), APath);
    if (found == FQueue.end() || found == FQueue.begin())
        return;
    FQueue.erase(found);
    FQueue.push_front(APath);
}

void TPageCounter::Stop() {
    FQueue.clear();
    ++FGeneration; // the read under way reports nothing
}

void TPageCounter::Next() {
    if (FRunning || FQueue.empty())
        return;
    // Files go to the worker in batches and their counts come back together: one hand-over
    // a file kept ten thousand small files counting for many seconds on a busy machine, an
    // event for the GUI thread each. The worker stops a batch after a short while, so a
    // file preferred meanwhile does not wait behind many slow reads; what it left is put
    // back in front.
    QStringList batch;
    while (!FQueue.empty() && batch.size() < kBatchFiles) {
        batch << FQueue.front();
        FQueue.pop_front();
    }
    FRunning = static_cast<int>(batch.size());
    QPointer<TPageCounter> self(this);
    FPool.start([self, batch, generation = FGeneration, queue = FQueueGeneration] {
        QList<TCount> counts;
        QElapsedTimer clock;
        clock.start();
        for (const QString& path : batch) {
            TCount counted{path, 1, false};
            try {
                counted.Count = std::max(1, ReadPageCount(path));
            } catch (...) {
                counted.Failed = true;
            }
            counts.append(counted);
            if (clock.elapsed() >= kBatchMs)
                break;
        }
        QMetaObject::invokeMethod(
            self,
            [self, batch, counts, generation, queue] {
                self->FRunning = 0;
                if (generation == self->FGeneration) {
                    // Not read in this batch: first in line again, in their order.
                    if (queue == self->FQueueGeneration)
                        for (qsizetype i = batch.size() - 1; i >= counts.size(); --i)
                            self->FQueue.push_front(batch[i]);
                    for (const TCount& counted : counts) {
                        emit self->Counted(counted.Path, counted.Count, counted.Failed);
                        if (generation != self->FGeneration)
                            break; // stopped by a receiver
                    }
                }
                self->Next();
            },
            Qt::QueuedConnection);
    });
}
