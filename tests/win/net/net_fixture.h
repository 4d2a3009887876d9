// What the networking tests share beyond the scripted peers: Winsock started once for the
// process, short waits, and standard output captured.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "net/net_timeouts.h"
#include "peer_sockets.h"
#include "test_files.h"

// Standard output of the calls between the two, as text.
void begin_stdout_capture();
std::string end_stdout_capture();
int count_occurrences(const std::string &text, const std::string &what);

// Short waits for the suite; each test that needs the real ones says so.
class ShortTimeouts : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    net_timeouts saved_;
};
