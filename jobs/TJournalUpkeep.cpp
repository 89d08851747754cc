#include "jobs/TJournalUpkeep.h"

#include "rename/TRenameJournal.h"

#include <utility>

namespace vantelo {

TJournalUpkeep::~TJournalUpkeep()
{
    Wait();
}

void TJournalUpkeep::Start(std::string journalPath)
{
    Wait();
    if (journalPath.empty())
        return;
    worker_ = std::thread([path = std::move(journalPath)] {
        try {
            TRenameJournal(path).DropOldBatches();
        } catch (...) {
            // Dropped next time; nothing else rests on it.
        }
    });
}

void TJournalUpkeep::Wait()
{
    if (worker_.joinable())
        worker_.join();
}

}  // namespace vantelo
