// What an install pass did, so the worker can tell the user which files failed and why.
#pragma once

enum { INSTALL_REPORT_MAX = 15 };

struct install_report {
    int installed;
    int failed;
    char failed_names[INSTALL_REPORT_MAX][260];
    int failed_reasons[INSTALL_REPORT_MAX];  // install_failure values
};
