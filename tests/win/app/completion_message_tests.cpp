#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/completion_message.h"
#include "net/framed/staged_file.h"
#include "res/texts.h"

// The head of a completion line that names failures.
static std::string failed_head(int installed, int failed)
{
    char head[96];
    snprintf(head, sizeof head, TEXT_COMPLETION_FAILED_FORMAT, installed, failed);
    return head;
}

static install_report report_with(std::initializer_list<std::pair<const char *, int>> failures)
{
    install_report report;
    memset(&report, 0, sizeof report);
    for (auto &f : failures) {
        strcpy(report.failed_names[report.failed], f.first);
        report.failed_reasons[report.failed] = f.second;
        ++report.failed;
    }
    return report;
}

TEST(CompletionMessage, SuccessAndNothingToDo)
{
    char line[COMPLETION_MESSAGE_SIZE];
    install_report none = report_with({});
    ASSERT_EQ(1, format_completion_message(3, &none, line, sizeof line));
    EXPECT_STREQ(TEXT_COMPLETION, line);
    EXPECT_EQ(0, format_completion_message(0, &none, line, sizeof line));
    EXPECT_EQ(0, format_completion_message(0, nullptr, line, sizeof line));
}

TEST(CompletionMessage, FailuresAreNamedWithTheirReasons)
{
    char line[COMPLETION_MESSAGE_SIZE];
    install_report report = report_with({{"PlimoExcel.xla", INSTALL_IN_USE},
                                         {"Stickrow64.dll", INSTALL_REFUSED},
                                         {"Kickoff.xls", INSTALL_DAMAGED}});
    ASSERT_EQ(1, format_completion_message(2, &report, line, sizeof line));
    EXPECT_EQ(failed_head(2, 3) + " PlimoExcel.xla(" TEXT_REASON_IN_USE
                                  "), Stickrow64.dll(" TEXT_REASON_REFUSED
                                  "), Kickoff.xls(" TEXT_REASON_DAMAGED ")",
              line);

    // Nothing installed but something failed: still a report, never the "nothing to do" box.
    install_report one = report_with({{"a.dll", INSTALL_NO_CONNECTION}});
    ASSERT_EQ(1, format_completion_message(0, &one, line, sizeof line));
    EXPECT_EQ(failed_head(0, 1) + " a.dll(" TEXT_REASON_NO_CONNECTION ")", line);
    EXPECT_EQ(nullptr, strstr(line, "완료"));

    // A read-only target and another instance's installation each say what the user can do.
    install_report own = report_with({{"a.dll", INSTALL_READ_ONLY}, {"b.dll", INSTALL_LOCKED}});
    ASSERT_EQ(1, format_completion_message(0, &own, line, sizeof line));
    EXPECT_EQ(failed_head(0, 2) + " a.dll(" TEXT_REASON_READ_ONLY "), b.dll(" TEXT_REASON_LOCKED
                                  ")",
              line);
}

TEST(CompletionMessage, CutsAtWholeItemsWithinTheBuffer)
{
    install_report report = report_with({});
    for (int i = 0; i < INSTALL_REPORT_MAX; ++i) {
        std::string name = "LongLibraryFileName" + std::to_string(i) + std::string(200, 'x');
        strcpy(report.failed_names[i], name.c_str());
        report.failed_reasons[i] = INSTALL_BROKEN;
        ++report.failed;
    }
    struct {
        char line[300];
        char guard[16];
    } area;
    memset(&area, 'G', sizeof area);
    ASSERT_EQ(1, format_completion_message(0, &report, area.line, sizeof area.line));
    std::string line = area.line;
    EXPECT_LT(line.size(), sizeof area.line);
    EXPECT_NE(std::string::npos, line.find("LongLibraryFileName0"));
    EXPECT_EQ(std::string::npos, line.find("LongLibraryFileName1"));
    EXPECT_EQ(" ...", line.substr(line.size() - 4));
    for (char c : area.guard)
        ASSERT_EQ('G', c);
}
