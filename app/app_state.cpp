#include "app/app_state.h"

HINSTANCE g_instance = nullptr;
int g_cmdline_address_flag = 0;
char g_cmdline_host[SERVER_HOST_SIZE] = {0};
char g_cmdline_url[LIBRARY_URL_MAX] = {0};
int g_first_install_marker = 0;
volatile LONG g_worker_running = 0;
