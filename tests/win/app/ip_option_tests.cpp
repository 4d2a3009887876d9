#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/ip_option.h"
#include "net/server_address.h"

TEST(IpOption, StoresTheTextAfterTheOptionUnchanged)
{
    char host[SERVER_HOST_SIZE] = "previous";
    EXPECT_EQ(IP_OPTION_STORED, read_ip_option("-ip 192.168.0.10", host, sizeof host));
    EXPECT_STREQ(" 192.168.0.10", host);
    EXPECT_EQ(IP_OPTION_STORED, read_ip_option("-ip10.1.2.3", host, sizeof host));
    EXPECT_STREQ("10.1.2.3", host);
    // Only the first occurrence counts; whatever follows it is the host text.
    EXPECT_EQ(IP_OPTION_STORED, read_ip_option("x -ip a -ip b", host, sizeof host));
    EXPECT_STREQ(" a -ip b", host);
    EXPECT_EQ(IP_OPTION_STORED, read_ip_option("-ip", host, sizeof host));
    EXPECT_STREQ("", host);
}

TEST(IpOption, AbsentLeavesTheHostAlone)
{
    char host[SERVER_HOST_SIZE] = "kept";
    EXPECT_EQ(IP_OPTION_ABSENT, read_ip_option("", host, sizeof host));
    EXPECT_EQ(IP_OPTION_ABSENT, read_ip_option(nullptr, host, sizeof host));
    EXPECT_EQ(IP_OPTION_ABSENT, read_ip_option("-i p 1.2.3.4", host, sizeof host));
    EXPECT_STREQ("kept", host);
}

TEST(IpOption, TooLongIsRefusedWithoutWritingPastTheField)
{
    struct {
        char host[SERVER_HOST_SIZE];
        char guard[16];
    } area;
    memset(&area, 'G', sizeof area);
    strcpy(area.host, "kept");

    std::string fits = "-ip" + std::string(63, 'a');
    EXPECT_EQ(IP_OPTION_STORED, read_ip_option(fits.c_str(), area.host, sizeof area.host));
    EXPECT_EQ(63u, strlen(area.host));

    strcpy(area.host, "kept");
    std::string too_long = "-ip" + std::string(64, 'b');
    EXPECT_EQ(IP_OPTION_TOO_LONG, read_ip_option(too_long.c_str(), area.host, sizeof area.host));
    EXPECT_STREQ("kept", area.host);
    for (char c : area.guard)
        ASSERT_EQ('G', c);
}

TEST(IpOption, TrimmingAndTitle)
{
    char host[SERVER_HOST_SIZE];
    trim_host(" \t127.0.0.1  ", host, sizeof host);
    EXPECT_STREQ("127.0.0.1", host);
    trim_host("   ", host, sizeof host);
    EXPECT_STREQ("", host);
    trim_host(nullptr, host, sizeof host);
    EXPECT_STREQ("", host);

    char title[64] = "Program";
    append_host_to_title(title, sizeof title, " 127.0.0.1");
    EXPECT_STREQ("Program( 127.0.0.1)", title);

    char small[12] = "Program";
    append_host_to_title(small, sizeof small, "127.0.0.1");
    EXPECT_STREQ("Program(127", small);
}
