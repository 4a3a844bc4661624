#include "back_ends.h"

#include <optional>
#include <stdexcept>

#include "admin_commands.h"
#include "object_store.h"
#include "service_options.h"

namespace skiv::server {

BackEndSettings BackEndSettings::From(const ServiceOptions& options) {
    BackEndSettings s;
    s.dataDir = options.dataDir;
    if (s.dataDir.empty() || s.dataDir.back() != '/')
        s.dataDir += '/';
    s.store = options.store;
    s.packages = options.packages;
    s.s3KeyFile = options.s3KeyFile;
    s.keepVersions = options.keepVersions;
    s.dbPool = options.dbPool;
    return s;
}

BackEnds::BackEnds(const BackEndSettings& settings) {
    const std::string records =
        settings.store.empty() ? DatabasePath(settings.dataDir) : settings.store;
    std::unique_ptr<ObjectStore> objects;
    std::string shelfFolder = settings.dataDir + "packages";
    std::string pieces = shelfFolder;
    if (settings.packages.rfind("s3://", 0) == 0) {
        std::string why;
        std::optional<ObjectStoreLocation> where = ParseObjectStoreUrl(settings.packages, why);
        std::optional<ObjectStoreKeys> keys;
        if (where)
            keys = LoadObjectStoreKeys(settings.s3KeyFile, why);
        if (!keys)
            throw std::runtime_error(why);
        objects = std::make_unique<ObjectStore>(std::move(*where), std::move(*keys));
        pieces = "bucket " + objects->where().bucket + " at " + objects->where().endpoint;
    } else if (!settings.packages.empty()) {
        shelfFolder = settings.packages;
        pieces = shelfFolder;
    }
    m_members = std::make_unique<MemberStore>(records, settings.dbPool);
    // Received files wait in the folder's incoming/ whatever keeps the pieces.
    m_shelf = std::make_unique<PackageShelf>(shelfFolder, std::move(objects));
    m_versions =
        std::make_unique<VersionStore>(records, *m_shelf, settings.keepVersions, settings.dbPool);
    m_description = std::string("records in ") + (settings.store.empty() ? records : "PostgreSQL") +
                    ", packages in " + pieces;
}

BackEnds::~BackEnds() = default;

}  // namespace skiv::server
