// The process-wide cache of prepared button images: one image list per
// picture size, shared by every button whose pictures have that size. It is
// created with the first button glyph and destroyed with the last one, once
// no list remains.
#pragma once

#include <QSize>

#include <memory>
#include <vector>

namespace vantelo {

class TGlyphList;

class TGlyphCache {
public:
    // The cache, or null while none exists.
    static TGlyphCache* Instance();
    // The cache, created if none exists yet.
    static TGlyphCache& Acquire();
    // Destroys the cache when it holds no list; otherwise does nothing.
    static void ReleaseIfEmpty();

    // The list for pictures of `size`, searched from the newest list to the
    // oldest; a new list is made when none has that size.
    TGlyphList& GetList(QSize size);
    // Hands a list back: a list with no used slot left is destroyed. A list
    // that does not belong to this cache is ignored.
    void ReturnList(TGlyphList* list);
    bool Empty() const { return lists_.empty(); }
    int ListCount() const { return static_cast<int>(lists_.size()); }

    TGlyphCache() = default;
    ~TGlyphCache();
    TGlyphCache(const TGlyphCache&) = delete;
    TGlyphCache& operator=(const TGlyphCache&) = delete;

private:
    // Oldest first; the search runs from the back.
    std::vector<std::unique_ptr<TGlyphList>> lists_;
};

}  // namespace vantelo
