// The configuration loader on arbitrary file contents: load, look every entry up, release.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/config_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    char path[] = "/tmp/pavoset-fuzz-config-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return 0;
    FILE *file = fdopen(fd, "wb");
    if (!file) {
        close(fd);
        unlink(path);
        return 0;
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    config_section tree{};
    load_config(path, &tree);
    unlink(path);

    static char value[8192];
    for (const config_section *s = &tree; s; s = s->next) {
        if (!s->name)
            continue;
        for (const config_entry *e = s->first; e; e = e->next) {
            if (std::strlen(e->key) > 255)
                std::abort();
            int found = get_config_value(&tree, s->name, e->key, value, 16);
            if (!found || std::strlen(value) > 15)
                std::abort();
        }
    }
    get_config_value(&tree, "SERVER", "IP", value, 260);
    get_config_value(&tree, "SERVER", "PORT", value, 260);
    release_config(&tree);
    if (tree.name || tree.next || tree.first)
        std::abort();
    return 0;
}
