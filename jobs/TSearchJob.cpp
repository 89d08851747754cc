#include "jobs/TSearchJob.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <iterator>
#include <utility>

#include "platform/TDirectoryListing.h"
#include "rename/TNameRules.h"

namespace vantelo {

TSearchJob::TSearchJob(std::string directory, std::string target)
    : directory_(std::move(directory)), target_(std::move(target))
{
}

void TSearchJob::Run(TWorkProgress& progress)
{
    TDirectoryListing listing;
    if (listing.Open(directory_) != 0)
        return;
    char resolved[PATH_MAX];
    listed_ = realpath(directory_.c_str(), resolved) ? resolved : directory_;
    // The identity of the folder actually listed, from its own descriptor.
    struct stat st;
    if (::fstat(listing.Descriptor(), &st) == 0)
        identity_ = TFileIdentity::Of(st);
    opened_ = true;
    std::vector<std::string> matches;
    std::string name;
    size_t seen = 0;
    while (!progress.StopRequested() && listing.Next(name)) {
        progress.Report(++seen, 0, name);
        if (NameMatches(name, target_)) {
            matches.push_back(name);
            if (matches.size() == kHandOver)
                HandOver(matches);
        }
        if (listingStep_)
            listingStep_(seen);
    }
    HandOver(matches);
    listing.Close();
}

void TSearchJob::HandOver(std::vector<std::string>& found)
{
    const std::lock_guard lock(mutex_);
    if (names_.empty())
        names_.swap(found);
    else
        std::move(found.begin(), found.end(), std::back_inserter(names_));
    found.clear();
}

std::vector<std::string> TSearchJob::Take()
{
    const std::lock_guard lock(mutex_);
    return std::exchange(names_, {});
}

size_t TSearchJob::Waiting() const
{
    const std::lock_guard lock(mutex_);
    return names_.size();
}

}  // namespace vantelo
