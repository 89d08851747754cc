#include "controls/TGlyphCache.h"

#include <algorithm>

#include "controls/TGlyphList.h"

namespace vantelo {

namespace {
std::unique_ptr<TGlyphCache>& TheCache()
{
    static std::unique_ptr<TGlyphCache> cache;
    return cache;
}
}  // namespace

TGlyphCache::~TGlyphCache() = default;

TGlyphCache* TGlyphCache::Instance()
{
    return TheCache().get();
}

TGlyphCache& TGlyphCache::Acquire()
{
    if (!TheCache())
        TheCache() = std::make_unique<TGlyphCache>();
    return *TheCache();
}

void TGlyphCache::ReleaseIfEmpty()
{
    if (TheCache() && TheCache()->Empty())
        TheCache().reset();
}

TGlyphList& TGlyphCache::GetList(QSize size)
{
    for (auto it = lists_.rbegin(); it != lists_.rend(); ++it)
        if ((*it)->Size() == size)
            return **it;
    lists_.push_back(std::make_unique<TGlyphList>(size));
    return *lists_.back();
}

void TGlyphCache::ReturnList(TGlyphList* list)
{
    if (!list || list->Count() != 0)
        return;
    const auto it = std::find_if(lists_.begin(), lists_.end(), [list](const auto& own) { return own.get() == list; });
    if (it != lists_.end())
        lists_.erase(it);
}

}  // namespace vantelo
