#include "app/server_resolution.h"

#include <cstdlib>
#include <cstring>

#include "app/ip_option.h"
#include "app/run_log.h"
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

// A machine policy value (HKEY_LOCAL_MACHINE) for name: 1 and its text in buffer, or 0.
// A user's own value is the older sources' business. An unreadable policy is logged and
// skipped: the address is no trust setting, and a wrong one shows up as an unreachable server.
static int policy_value(const char *name, char *buffer, int capacity)
{
    int unreadable = 0;
    int source = read_layered_setting(name, buffer, capacity, &unreadable);
    if (source != SETTING_FROM_MACHINE)
        return 0;
    if (unreadable) {
        run_log(TEXT_LOG_POLICY_UNREADABLE_FORMAT, name);
        return 0;
    }
    return 1;
}

// The machine policy over whatever the user's sources gave: the host and the port each on
// their own, so a policy may fix only the port.
static int apply_policy(server_address *address)
{
    char host[SERVER_HOST_SIZE] = {0};
    char port[32] = {0};
    int host_given = policy_value(SETTING_IP, host, sizeof host);
    if (host_given) {
        trim_host(host, address->host, SERVER_HOST_SIZE);
        host_given = address->host[0] != 0;
    }
    if (policy_value(SETTING_PORT, port, sizeof port)) {
        unsigned short number = port_from_text(port);
        if (number != 0)
            address->port = number;
        else
            run_log(TEXT_LOG_POLICY_UNREADABLE_FORMAT, SETTING_PORT);
    }
    return host_given;
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

    if (apply_policy(address))
        source = ADDRESS_FROM_POLICY;

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
    case ADDRESS_FROM_POLICY:
        return TEXT_ADDRESS_FROM_POLICY;
    case ADDRESS_FROM_OFFLINE_INI:
        return "Offline.INI";
    case ADDRESS_FROM_IP_OPTION:
        return "-ip";
    default:
        return TEXT_ADDRESS_FROM_DEFAULT;
    }
}
