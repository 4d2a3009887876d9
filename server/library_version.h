// Library versions: what --root leads to, held whole by whoever is being served from it.
// A publisher switches every client at once by pointing the --root link (a symbolic link on
// Linux, a directory junction on Windows) at a new, complete folder. A text connection keeps
// the version it met when it connected; a framed client's file requests keep the version its
// catalogue came from (by address, for a while); a file always comes from one open file.
#pragma once
#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "server/library_catalogue.h"

typedef std::shared_ptr<catalogue_cache> library_version;

// How long a framed client's file requests are served from the version of the catalogue it
// got last (each request from that address starts the time again). Longer than a slow PC's
// whole install pass takes between two files.
enum { VERSION_PIN_SECONDS = 600, VERSION_PIN_MAX = 16384 };

struct version_pin {
    library_version version;
    std::chrono::steady_clock::time_point until;
};

struct library_versions {
    std::string given_root;                   // --root as given: a folder or a link to one
    library_version current;                  // what new connections get
    std::map<std::string, version_pin> pins;  // by client address (without the port)
};

// Opens the version --root leads to at start. False with *error when it is no library.
bool open_library_versions(library_versions *versions, const std::string &root, std::string *error);

// The version --root leads to now. When the link points at another folder than before, that
// folder is scanned first; one that cannot be published is logged and the previous version
// stays in service. Within one version, catalogue requests rescan its folder as before
// (files renamed into a plain --root folder).
library_version current_library(library_versions *versions);

// Rescans a version's folder; a failed scan is logged and its last good catalogue stays.
void refresh_version(const library_version &version);

// Remembers that the client at address got its catalogue from version.
void pin_version(library_versions *versions, const std::string &address,
                 const library_version &version);
// The version a file request from address is served from: its pinned one while that lasts,
// the current one otherwise.
library_version version_for_client(library_versions *versions, const std::string &address);
