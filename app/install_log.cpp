#include "app/install_log.h"

#include <cstdio>
#include <cstring>

#include "app/completion_message.h"
#include "app/run_log.h"
#include "catalogue/list_rows.h"
#include "catalogue/local_comparison.h"
#include "res/texts.h"

void remember_rows(HWND list, rows_before_install *before)
{
    memset(before, 0, sizeof *before);
    int rows = list_row_count(list);
    if (rows < 0)
        rows = 0;
    if (rows > CATALOGUE_MAX_ENTRIES)
        rows = CATALOGUE_MAX_ENTRIES;
    before->rows = rows;
    for (int i = 0; i < rows; ++i)
        read_cell(list, i, COLUMN_STATUS, before->status[i], sizeof before->status[i]);
}

static const char *reason_for(const install_report *report, const char *name)
{
    int named = report ? report->failed : 0;
    if (named > INSTALL_REPORT_MAX)
        named = INSTALL_REPORT_MAX;
    for (int i = 0; i < named; ++i)
        if (strncmp(report->failed_names[i], name, sizeof report->failed_names[i]) == 0)
            return failure_reason_text(report->failed_reasons[i]);
    return TEXT_REASON_OTHER;
}

static void tell(void (*echo)(const char *), const char *format, const char *name, const char *size,
                 const char *reason)
{
    char line[RUN_LOG_LINE_MAX];
    snprintf(line, sizeof line, format, name, size, reason);
    run_log("%s", line);
    if (echo)
        echo(line);
}

int log_install_pass(HWND list, const rows_before_install *before, const install_report *report,
                     int installed, void (*echo)(const char *))
{
    int failed = 0;
    for (int i = 0; i < before->rows; ++i) {
        char name[260], status[16];
        read_cell(list, i, COLUMN_NAME, name, sizeof name);
        if (strcmp(before->status[i], TEXT_STATUS_MATCH) == 0) {
            // Only the console hears of files left alone: one line per file there.
            if (echo) {
                char line[300];
                snprintf(line, sizeof line, TEXT_PASS_MATCH_FORMAT, name);
                echo(line);
            }
            continue;
        }
        read_cell(list, i, COLUMN_STATUS, status, sizeof status);
        const char *size = i < g_catalogue_count && g_catalogue[i].size ? g_catalogue[i].size : "?";
        if (strcmp(status, TEXT_STATUS_MATCH) == 0) {
            tell(echo, TEXT_PASS_INSTALLED_FORMAT, name, size, "");
        } else {
            ++failed;
            tell(echo, TEXT_PASS_FAILED_FORMAT, name, size, reason_for(report, name));
        }
    }
    char summary[160];
    snprintf(summary, sizeof summary, TEXT_PASS_SUMMARY_FORMAT, installed, failed);
    run_log("%s", summary);
    if (echo)
        echo(summary);
    return failed;
}
