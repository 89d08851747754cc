// The journal's upkeep after a batch: the finished batches beyond the kept
// number are dropped on a thread of their own, so that nobody waits on it.
// Freeing a large batch's list takes a noticeable part of a second; a new
// batch that begins meanwhile waits for the journal as for any other writer.
//
// A drop that fails (the journal busy or unreadable) is left for the next
// time: nothing depends on it but the journal's size.
#pragma once

#include <string>
#include <thread>

namespace vantelo {

class TJournalUpkeep {
public:
    // Waits for a drop still running.
    ~TJournalUpkeep();

    // Drops the old batches of the journal at `journalPath` in the
    // background, once a drop still running is over.
    void Start(std::string journalPath);
    // Waits for the drop started last.
    void Wait();

private:
    std::thread worker_;
};

}  // namespace vantelo
