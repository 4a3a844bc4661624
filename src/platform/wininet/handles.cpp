#include "platform/wininet/handles.h"

#include <unordered_map>

namespace skiv::wininet::detail {

namespace {

struct Table {
    std::mutex lock;
    std::unordered_map<HINTERNET, std::shared_ptr<Handle>> live;
};

Table& TheTable() {
    static Table table;
    return table;
}

}  // namespace

HINTERNET Register(std::shared_ptr<Handle> handle) {
    auto& table = TheTable();
    HINTERNET key = handle.get();
    std::lock_guard guard(table.lock);
    table.live[key] = std::move(handle);
    return key;
}

std::shared_ptr<Handle> Lookup(HINTERNET handle) {
    if (handle == nullptr) {
        return nullptr;
    }
    auto& table = TheTable();
    std::lock_guard guard(table.lock);
    auto it = table.live.find(handle);
    return it == table.live.end() ? nullptr : it->second;
}

bool Unregister(HINTERNET handle) {
    auto& table = TheTable();
    std::shared_ptr<Handle> gone;  // released after the table's lock
    std::lock_guard guard(table.lock);
    auto it = table.live.find(handle);
    if (it == table.live.end()) {
        return false;
    }
    gone = std::move(it->second);
    table.live.erase(it);
    return true;
}

}  // namespace skiv::wininet::detail
