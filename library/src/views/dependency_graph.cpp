// The dependency graph: ancestries of views, and the records of stores and foreign memory.
#include "quelbo/dependency_graph.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "quelbo/data_access.h"
#include "quelbo/error.h"
#include "quelbo/uid.h"
#include "quelbo/view.h"
#include "storage/lineage.h"
#include "util/release.h"
#include "views/ancestry.h"

namespace quelbo {

namespace {

// A record of the graph's own: a store (led to by the record of the store
// whose bytes it moves, when it is an adapter), or the mark of memory the
// library does not own.
class SourceRecord final : public ViewOriginExtension
{
public:
    SourceRecord(ViewDataOrigin origin, std::string name, bool foreign,
                 std::shared_ptr<ViewOriginExtension> parent = nullptr)
        : m_origin(origin), m_name(std::move(name)), m_foreign(foreign), m_parent(std::move(parent))
    {}
    ~SourceRecord() override { util::release(m_parent); }
    uint64_t uid() const override { return m_uid; }
    size_t parentCount() const override { return m_parent ? 1 : 0; }
    std::shared_ptr<ViewOriginExtension> parent(size_t idx) const override
    {
        if (idx >= parentCount())
            throw InvalidArgument("ViewOrigin: parent index " + std::to_string(idx) + " is not below the parent count " +
                                  std::to_string(parentCount()));
        return m_parent;
    }
    ViewDataOrigin dataOrigin() const override { return m_origin; }
    std::string displayName() const override { return m_name; }
    bool foreign() const { return m_foreign; }

private:
    uint64_t m_uid = UidGenerator::generate();
    ViewDataOrigin m_origin;
    std::string m_name;
    bool m_foreign;
    std::shared_ptr<ViewOriginExtension> m_parent;
};

} // namespace

CommonAncestorStatus detail::Ancestry::against(Ancestry const& other) const
{
    Ancestry const& small = records.size() <= other.records.size() ? *this : other;
    Ancestry const& large = &small == this ? other : *this;
    for (ViewOriginExtension const* record : small.records) {
        if (large.records.count(record) != 0)
            return CommonAncestorStatus::SHARE_ANCESTOR;
    }
    return incomplete || other.incomplete ? CommonAncestorStatus::UNDETERMINED : CommonAncestorStatus::SHARE_NO_ANCESTOR;
}

// Every record reachable from the view's, without recursion.
detail::Ancestry detail::ancestryOf(View& view)
{
    Ancestry out;
    std::vector<std::shared_ptr<ViewOriginExtension>> todo{view.viewOrigin()};
    while (!todo.empty()) {
        std::shared_ptr<ViewOriginExtension> record = std::move(todo.back());
        todo.pop_back();
        if (!record || !out.records.insert(record.get()).second)
            continue;
        size_t const parents = record->parentCount();
        for (size_t i = 0; i < parents; ++i)
            todo.push_back(record->parent(i));
        // Memory not owned, or a record that does not say where its data
        // come from: a view of unknown origin, or a composite (a multi-image
        // view, whose frames change) that names no parent and no source.
        ViewDataOrigin const origin = record->dataOrigin();
        auto const* mark = dynamic_cast<SourceRecord const*>(record.get());
        std::shared_ptr<ViewOriginExtension> source = mark ? nullptr : DependencyGraph::sourceOf(*record);
        if (mark
                ? mark->foreign()
                : !source && parents == 0 && (origin == ViewDataOrigin::UNKNOWN || origin == ViewDataOrigin::COMPOSITE))
            out.incomplete = true;
        todo.push_back(std::move(source));
    }
    return out;
}

namespace {

// Store records in use, by the accessor or by its storage and resource.
struct StoreKey
{
    void const* object;
    std::string resource;
    bool operator<(StoreKey const& other) const
    {
        return object != other.object ? object < other.object : resource < other.resource;
    }
    bool operator==(StoreKey const& other) const { return object == other.object && resource == other.resource; }
};

struct StoreEntry
{
    bool byObject;
    std::weak_ptr<void> owner; // the accessor a key of an object names
    std::weak_ptr<ViewOriginExtension> record;

    bool unused() const { return record.expired() || (byObject && owner.expired()); }
};

// The name a storage gives its resources: its source in full, a secret it
// hides from what it shows (an HTTP site's password) included, so that sites
// apart in the secret alone are apart.
std::string const& storageName(DataStorage const& storage)
{
    auto const* secret = dynamic_cast<detail::SecretSource const*>(&storage);
    return secret ? secret->fullSource() : storage.source();
}

std::mutex& graphLock()
{
    static std::mutex lock;
    return lock;
}

// What each view record reads, kept as long as the record lives.
struct SourceEntry
{
    std::weak_ptr<ViewOriginExtension> record;
    std::shared_ptr<ViewOriginExtension> source;
};

std::map<ViewOriginExtension const*, SourceEntry>& sources()
{
    static std::map<ViewOriginExtension const*, SourceEntry> table;
    return table;
}

// Drops the entries of records gone (under the lock); runs when the table
// has doubled since the last sweep, so each insertion costs constant time
// on average.
void sweep()
{
    static std::size_t sweptAt = 16;
    auto& table = sources();
    if (table.size() < sweptAt)
        return;
    for (auto it = table.begin(); it != table.end();)
        it = it->second.record.expired() ? table.erase(it) : std::next(it);
    sweptAt = std::max<std::size_t>(16, table.size() * 2);
}

void attach(std::shared_ptr<ViewOriginExtension> const& record, std::shared_ptr<ViewOriginExtension> source)
{
    if (!record)
        throw InvalidArgument("DependencyGraph: no view origin given");
    sweep();
    sources()[record.get()] = SourceEntry{record, std::move(source)};
}

// The library's own records carry the note of foreign memory themselves.
ViewOriginRecord const* ownRecord(ViewOriginExtension const* record)
{
    return dynamic_cast<ViewOriginRecord const*>(record);
}

std::shared_ptr<ViewOriginExtension> foreignMark()
{
    return std::make_shared<SourceRecord>(ViewDataOrigin::CPU_MEMORY, "Memory not owned by the library", true);
}

std::map<StoreKey, StoreEntry>& stores()
{
    static std::map<StoreKey, StoreEntry> table;
    return table;
}

} // namespace

CommonAncestorStatus DependencyGraph::hasCommonAncestor(std::shared_ptr<View> view1, std::shared_ptr<View> view2)
{
    if (!view1 || !view2)
        throw Error("DependencyGraph: no view given");
    return detail::ancestryOf(*view1).against(detail::ancestryOf(*view2));
}

void DependencyGraph::recordStore(std::shared_ptr<ViewOriginExtension> const& record,
                                  std::shared_ptr<DataAccess> const& store, ViewDataOrigin origin)
{
    if (!store)
        throw InvalidArgument("DependencyGraph: no store given");
    // The store and the accessors whose bytes it moves, down to the one that
    // holds them.
    struct Level
    {
        StoreKey key;
        std::shared_ptr<DataAccess> access;
        bool lent;
    };
    std::vector<Level> chain;
    for (std::shared_ptr<DataAccess> access = store; access;) {
        auto const* lineage = dynamic_cast<detail::Lineage const*>(access.get());
        std::shared_ptr<DataAccess> below = lineage ? lineage->adaptedAccess() : nullptr;
        bool const lent = lineage && lineage->lentMemory();
        StoreKey const byObject{access.get(), std::string()};
        chain.push_back(Level{byObject, std::move(access), lent});
        access = std::move(below);
    }
    // Named from the bottom up, whichever objects reach what they name: a
    // file held open by its identity on the file system (whatever path
    // reaches it, then or now), an adapter of the same resource as the one
    // below it as that one (one record), any other resource of a storage by
    // the storage's name and the identifier; any other accessor by the
    // object.
    for (size_t i = chain.size(); i-- > 0;) {
        DataAccess const& access = *chain[i].access;
        auto const* lineage = dynamic_cast<detail::Lineage const*>(&access);
        std::string held = lineage ? lineage->heldFile() : std::string();
        std::shared_ptr<DataStorage> const storage = access.storage();
        DataAccess const* below = i + 1 < chain.size() ? chain[i + 1].access.get() : nullptr;
        if (!held.empty())
            chain[i].key = StoreKey{nullptr, std::move(held)};
        else if (storage && below && below->storage() == storage && below->resourceId() == access.resourceId())
            chain[i].key = chain[i + 1].key;
        else if (storage)
            chain[i].key = StoreKey{nullptr, storageName(*storage) + '\n' + access.resourceId()};
    }
    std::vector<Level> levels;
    for (Level& level : chain) {
        if (levels.empty() || !(levels.back().key == level.key))
            levels.push_back(std::move(level));
        else
            levels.back().lent = levels.back().lent || level.lent;
    }
    std::lock_guard<std::mutex> guard(graphLock());
    auto& table = stores();
    // Forget the entries no view names any more.
    for (auto it = table.begin(); it != table.end();)
        it = it->second.unused() ? table.erase(it) : std::next(it);
    // From the accessor holding the bytes up: each record leads to the one
    // below it; lent memory is marked as memory the library does not own.
    std::shared_ptr<ViewOriginExtension> source;
    for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
        auto found = table.find(level->key);
        std::shared_ptr<ViewOriginExtension> mine = found != table.end() ? found->second.record.lock() : nullptr;
        if (!mine) {
            std::string const& resource = level->access->resourceId();
            mine = std::make_shared<SourceRecord>(origin, resource.empty() ? "Store" : "Store " + resource, level->lent,
                                                  std::move(source));
            table[level->key] = StoreEntry{level->key.object != nullptr, level->access, mine};
        }
        source = std::move(mine);
    }
    if (ViewOriginRecord const* own = ownRecord(record.get()))
        own->m_foreign.store(false, std::memory_order_release); // the last word counts
    attach(record, std::move(source));
}

// The mark of the memory is made when someone asks for it (sourceOf), so
// that views over caller memory cost no more to make than others.
void DependencyGraph::recordForeignMemory(std::shared_ptr<ViewOriginExtension> const& record)
{
    if (ViewOriginRecord const* own = ownRecord(record.get())) {
        own->m_foreign.store(true, std::memory_order_release);
        return;
    }
    auto source = foreignMark();
    std::lock_guard<std::mutex> guard(graphLock());
    attach(record, std::move(source));
}

void DependencyGraph::recordForeignMemory(View& view)
{
    view.m_origin.visit([&](std::shared_ptr<ViewOriginExtension> const* record) {
        if (record)
            recordForeignMemory(*record);
        else
            view.m_foreign = true;
    });
}

std::shared_ptr<ViewOriginExtension> DependencyGraph::sourceOf(ViewOriginExtension const& record)
{
    std::lock_guard<std::mutex> guard(graphLock());
    ViewOriginRecord const* own = ownRecord(&record);
    if (own && own->m_foreign.load(std::memory_order_acquire)) {
        if (!own->m_foreignSource)
            own->m_foreignSource = foreignMark();
        return own->m_foreignSource;
    }
    auto& table = sources();
    auto found = table.find(&record);
    if (found == table.end() || found->second.record.lock().get() != &record)
        return nullptr;
    return found->second.source;
}

} // namespace quelbo
