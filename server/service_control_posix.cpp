#include "server/service_control.h"

#include <cstdio>

static int not_here(const char *option)
{
    std::fprintf(stderr,
                 "pavoset-server: %s is for Windows; here install packaging/pavoset-server.service "
                 "(see server/README.md)\n",
                 option);
    return 2;
}

int install_service(int, char **)
{
    return not_here("--install-service");
}
int uninstall_service()
{
    return not_here("--uninstall-service");
}
int run_as_service(const server_options &)
{
    return not_here("--service");
}
