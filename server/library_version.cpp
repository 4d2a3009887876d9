#include "server/library_version.h"

#include "server/server_log.h"

static const std::chrono::seconds PIN_TIME(VERSION_PIN_SECONDS);

static bool scan_folder(const std::string &folder, const catalogue_cache *previous,
                        library_version *out, std::string *error)
{
    auto version = std::make_shared<catalogue_cache>();
    if (!open_catalogue_cache(version.get(), folder, error))
        return false;
    // Unchanged files (hard links, or the same file met again) keep their checksums.
    if (previous)
        version->known = previous->known;
    if (!refresh_catalogue(version.get(), error))
        return false;
    *out = version;
    return true;
}

bool open_library_versions(library_versions *versions, const std::string &root, std::string *error)
{
    versions->given_root = root;
    versions->pins.clear();
    return scan_folder(root, nullptr, &versions->current, error);
}

library_version current_library(library_versions *versions)
{
    std::string target = resolve_path(versions->given_root);
    if (target.size() > 1 && target.back() == '/')
        target.pop_back();
    if (target.empty() || !versions->current || target == versions->current->root) {
        // Unchanged, or the link is being replaced (on Windows a junction is removed and
        // made again): keep serving the version in use.
        return versions->current;
    }
    library_version next;
    std::string error;
    if (!scan_folder(target, versions->current.get(), &next, &error)) {
        log_line(LOG_WARN,
                 "library: %s now leads to %s, which cannot be published: %s; still "
                 "serving %s",
                 versions->given_root.c_str(), target.c_str(), error.c_str(),
                 versions->current->root.c_str());
        return versions->current;
    }
    log_line(LOG_INFO, "library: switched to %s (%zu files); connections already open keep %s",
             next->root.c_str(), next->current.files.size(), versions->current->root.c_str());
    versions->current = next;
    return next;
}

void refresh_version(const library_version &version)
{
    std::string error;
    if (!refresh_catalogue(version.get(), &error))
        log_line(LOG_WARN, "library: %s; still serving the last good catalogue", error.c_str());
}

void pin_version(library_versions *versions, const std::string &address,
                 const library_version &version)
{
    auto now = std::chrono::steady_clock::now();
    if (versions->pins.size() >= VERSION_PIN_MAX && !versions->pins.count(address)) {
        for (auto it = versions->pins.begin(); it != versions->pins.end();)
            it = it->second.until <= now ? versions->pins.erase(it) : std::next(it);
        // Still full: a flood of addresses. Forget one; that client gets the current version.
        if (versions->pins.size() >= VERSION_PIN_MAX)
            versions->pins.erase(versions->pins.begin());
    }
    versions->pins[address] = version_pin{version, now + PIN_TIME};
}

library_version version_for_client(library_versions *versions, const std::string &address)
{
    auto pin = versions->pins.find(address);
    if (pin == versions->pins.end())
        return current_library(versions);
    auto now = std::chrono::steady_clock::now();
    if (pin->second.until <= now) {
        versions->pins.erase(pin);
        return current_library(versions);
    }
    pin->second.until = now + PIN_TIME;
    return pin->second.version;
}
