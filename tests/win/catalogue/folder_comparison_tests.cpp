// The whole catalogue against the install folder, two files at a time: the rows are those the
// one-file comparison gives, in catalogue order, and two files really are compared at once.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "catalogue/catalogue.h"
#include "catalogue/folder_comparison.h"
#include "catalogue/local_comparison.h"
#include "res/texts.h"
#include "test_support.h"

namespace {

struct FolderComparison : testing::Test {
    void SetUp() override { reset_install_folder(); }
    void TearDown() override
    {
        g_row_comparison_hook = nullptr;
        release_catalogue();
        reset_install_folder();
    }
    void put(const std::string &name, const std::string &bytes)
    {
        ASSERT_TRUE(write_whole_file(LIBRARY_FOLDER + name, bytes));
    }
};

TEST_F(FolderComparison, EveryRowIsWhatTheOneFileComparisonSaysInCatalogueOrder)
{
    // All fifteen rows a catalogue may have, most states more than once so both threads meet them.
    std::string records;
    std::vector<int> expected;
    for (int i = 0; i < CATALOGUE_MAX_ENTRIES - 2; ++i) {
        std::string name = "Row" + std::to_string(i) + (i % 5 == 3 ? ".xla" : ".dll");
        std::string bytes = make_bytes(20000 + 1000 * i, i);
        std::string listed = bytes;
        switch (i % 5) {
        case 0:  // not installed
            expected.push_back(LOCAL_NEW);
            break;
        case 1:  // installed as listed
            put(name, bytes);
            expected.push_back(LOCAL_MATCH);
            break;
        case 2:  // same size, other bytes
            put(name, bytes);
            listed[7] ^= 1;
            expected.push_back(LOCAL_CHANGED);
            break;
        case 3:  // an add-in of the listed size: its CRC-32 is not held to the catalogue's
            put(name, bytes);
            listed[7] ^= 1;
            expected.push_back(LOCAL_MATCH);
            break;
        default:  // another size
            put(name, bytes + "x");
            expected.push_back(LOCAL_CHANGED);
            break;
        }
        records += (i ? TEXT_RECORD_SEPARATOR : "") + record_for(name, listed);
    }
    // A record with its name alone (the file there: no size to agree with), and a name the
    // comparison never looks up.
    put("Short.dll", "abc");
    put("x.dll", "abc");
    records += TEXT_RECORD_SEPARATOR "Short.dll" TEXT_RECORD_SEPARATOR "..\\x.dll^|1^|3";
    expected.push_back(LOCAL_CHANGED);
    expected.push_back(LOCAL_NEW);
    load_catalogue(records);
    ASSERT_EQ(g_catalogue_count, CATALOGUE_MAX_ENTRIES);

    local_row rows[CATALOGUE_MAX_ENTRIES];
    memset(rows, 0x55, sizeof rows);
    compare_catalogue_with_folder(g_catalogue, g_catalogue_count, rows);
    for (int i = 0; i < CATALOGUE_MAX_ENTRIES; ++i) {
        const catalogue_entry &e = g_catalogue[i];
        char size[16] = "junk", status[7] = "junk";
        int alone = compare_local_file(e.name, e.crc, e.size, size, status);
        EXPECT_EQ(rows[i].outcome, expected[i]) << e.name;
        EXPECT_EQ(rows[i].outcome, alone) << e.name;
        EXPECT_STREQ(rows[i].status, status) << e.name;
        EXPECT_STREQ(rows[i].current_size, size) << e.name;
    }
    EXPECT_STREQ(rows[0].current_size, "");
    EXPECT_STREQ(rows[1].current_size, "21000");
    EXPECT_STREQ(rows[4].current_size, "24001");
    EXPECT_STREQ(rows[13].current_size, "3");
}

// Row 0 is held until another thread has begun row 1: with one thread comparing, row 1 never
// begins and the hold runs out (a bounded wait that fails the test, not a measure of speed).
HANDLE g_second_row_begun = nullptr;
volatile LONG g_hold_ran_out = 0;
volatile LONG g_calls[CATALOGUE_MAX_ENTRIES];
DWORD g_row_thread[CATALOGUE_MAX_ENTRIES];

void hold_row_zero(int row)
{
    g_row_thread[row] = GetCurrentThreadId();
    InterlockedIncrement(&g_calls[row]);
    if (row == 1)
        SetEvent(g_second_row_begun);
    if (row == 0 && WaitForSingleObject(g_second_row_begun, 20000) != WAIT_OBJECT_0)
        InterlockedExchange(&g_hold_ran_out, 1);
}

TEST_F(FolderComparison, TwoFilesAreComparedAtOnceEachByOneThread)
{
    std::string records;
    for (int i = 0; i < 6; ++i) {
        std::string bytes = make_bytes(3000, 40 + i);
        put("Twice" + std::to_string(i) + ".dll", bytes);
        records += (i ? TEXT_RECORD_SEPARATOR : "") +
                   record_for("Twice" + std::to_string(i) + ".dll", bytes);
    }
    load_catalogue(records);
    g_second_row_begun = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_hold_ran_out = 0;
    memset((void *)g_calls, 0, sizeof g_calls);
    g_row_comparison_hook = hold_row_zero;
    local_row rows[CATALOGUE_MAX_ENTRIES];
    compare_catalogue_with_folder(g_catalogue, g_catalogue_count, rows);
    g_row_comparison_hook = nullptr;
    CloseHandle(g_second_row_begun);

    EXPECT_EQ(g_hold_ran_out, 0) << "row 1 began only after row 0 was done";
    EXPECT_NE(g_row_thread[0], g_row_thread[1]);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(g_calls[i], 1) << "row " << i;
        EXPECT_EQ(rows[i].outcome, LOCAL_MATCH) << i;
    }
}

// The helper held on its first row until the comparison has returned: the caller gives it up
// once it finishes nothing for the stall bound (short here), and the row it held is Changed.
DWORD g_caller_thread = 0;
volatile LONG g_held_row = -1;
HANDLE g_helper_held = nullptr;  // the caller waits for it, so that the helper surely takes a row
HANDLE g_helper_released = nullptr;
HANDLE g_helper_went_on = nullptr;

void hold_the_helper(int row)
{
    if (GetCurrentThreadId() == g_caller_thread) {
        WaitForSingleObject(g_helper_held, 20000);
        return;
    }
    if (InterlockedCompareExchange(&g_held_row, row, -1) != -1)
        return;
    SetEvent(g_helper_held);
    WaitForSingleObject(g_helper_released, 20000);
    SetEvent(g_helper_went_on);
}

TEST_F(FolderComparison, AHelperThatFinishesNothingIsGivenUpAndItsRowIsChanged)
{
    std::string records;
    for (int i = 0; i < 8; ++i) {
        std::string name = "Stall" + std::to_string(i) + ".dll", bytes = make_bytes(2000, 60 + i);
        put(name, bytes);
        records += (i ? TEXT_RECORD_SEPARATOR : "") + record_for(name, bytes);
    }
    load_catalogue(records);
    g_caller_thread = GetCurrentThreadId();
    g_held_row = -1;
    g_helper_held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_helper_released = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_helper_went_on = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_helper_stall_ms = 200;
    g_row_comparison_hook = hold_the_helper;
    local_row rows[CATALOGUE_MAX_ENTRIES];
    compare_catalogue_with_folder(g_catalogue, g_catalogue_count, rows);
    g_helper_stall_ms = HELPER_STALL_MS;
    int held = g_held_row;
    // Let the helper go on with the copies it holds; this catalogue may go meanwhile.
    release_catalogue();
    SetEvent(g_helper_released);
    EXPECT_EQ(WaitForSingleObject(g_helper_went_on, 20000), WAIT_OBJECT_0);
    g_row_comparison_hook = nullptr;
    CloseHandle(g_helper_held);
    CloseHandle(g_helper_released);
    CloseHandle(g_helper_went_on);

    ASSERT_GE(held, 0) << "the helper took a row";
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(rows[i].outcome, i == held ? LOCAL_CHANGED : LOCAL_MATCH) << i;
        EXPECT_STREQ(rows[i].status, i == held ? TEXT_STATUS_CHANGED : TEXT_STATUS_MATCH) << i;
    }
    EXPECT_STREQ(rows[held].current_size, "");
}

}  // namespace
