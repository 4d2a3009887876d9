#include "app/server_resolution.h"

#include <cstdlib>
#include <cstring>

#include "app/ip_option.h"
#include "res/texts.h"
#include "settings/offline_config.h"
#include "settings/registry_store.h"

static unsigned short port_from_text(const char *text)
{
    // Only the low 16 bits of the number count, as the stored value has always been read.
    long value = strtol(text, nullptr, 10);
    return (unsigned short)(unsigned long)value;
}

static int from_registry(server_address *address)
{
    if (!read_setting(SETTING_IP, address->host, SERVER_HOST_SIZE))
        return 0;
    address->host[SERVER_HOST_SIZE - 1] = 0;
    char port[260] = {0};
    if (!read_setting(SETTING_PORT, port, sizeof port))
        return 0;
    // An empty stored host would leave nothing to connect to: let the next source decide.
    if (!address->host[0])
        return 0;
    address->port = port_from_text(port);
    return 1;
}

int resolve_server_address(server_address *address, const char *cmdline_host)
{
    int source = ADDRESS_FROM_REGISTRY;
    if (!from_registry(address)) {
        source = ADDRESS_FROM_OFFLINE_INI;
        if (load_offline_config(address->host, &address->port)) {
            // The file may give only one of the two; the default fills the gap.
            address->host[SERVER_HOST_SIZE - 1] = 0;
            if (!address->host[0])
                strcpy(address->host, DEFAULT_SERVER_HOST);
            if (address->port == 0)
                address->port = DEFAULT_SERVER_PORT;
        } else {
            source = ADDRESS_FROM_DEFAULT;
            strcpy(address->host, DEFAULT_SERVER_HOST);
            address->port = DEFAULT_SERVER_PORT;
        }
    }

    char host[SERVER_HOST_SIZE];
    trim_host(cmdline_host, host, sizeof host);
    if (host[0]) {
        strcpy(address->host, host);
        source = ADDRESS_FROM_IP_OPTION;
    }
    return source;
}

const char *address_source_text(int source)
{
    switch (source) {
    case ADDRESS_FROM_REGISTRY:
        return TEXT_ADDRESS_FROM_REGISTRY;
    case ADDRESS_FROM_OFFLINE_INI:
        return "Offline.INI";
    case ADDRESS_FROM_IP_OPTION:
        return "-ip";
    default:
        return TEXT_ADDRESS_FROM_DEFAULT;
    }
}
