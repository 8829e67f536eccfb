#pragma once
// Products' routes in the records: set (replacing the product's route), read
// and deleted, every change kept in route_changes with who made it, when,
// where and the route's text (empty for a delete). A change takes effect at
// the next entry; runs going on are not touched.

#include "process.h"
#include "storeconnection.h"

#include <optional>
#include <string>
#include <vector>

namespace tamrisk {

// Who changed a route, where and when.
struct RouteChange {
    std::string changedBy, station;
    qint64 changedMs = 0;
};

class RouteStore {
public:
    explicit RouteStore(StoreConnection& connection);

    // Replaces `product`'s route with `steps` in one transaction and keeps the
    // change; the failure when the login may not (a station's) or the database fails.
    StoreResult<void> Set(const std::string& product, const std::vector<RouteStep>& steps, const RouteChange& change);
    // Every product's route (or only `product`'s), by product, operations in order.
    StoreResult<std::vector<Route>> Routes(const std::optional<std::string>& product = std::nullopt);
    // Deletes `product`'s route and keeps the change; NotFound when it has none.
    StoreResult<void> Delete(const std::string& product, const RouteChange& change);

private:
    // Within a transaction: replaces the route (none for `steps` empty) and appends the change.
    bool Replace(const std::string& product, const std::vector<RouteStep>& steps, const RouteChange& change,
                 int& deleted, QSqlError& failure);

    StoreConnection& m_c;
};

}  // namespace tamrisk
