// Which mode a command line asks for, its host, and what is not understood; the window
// mode keeps the old "-ip" reading (everything after it is the host).
#include <gtest/gtest.h>

#include <string>

#include "app/command_line.h"
#include "app/ip_option.h"

namespace {

command_line parse(const char *text)
{
    command_line out;
    parse_command_line(text, &out);
    return out;
}

TEST(CommandLine, UnattendedModesAndTheirHost)
{
    command_line a = parse("-install -ip 127.0.0.1");
    EXPECT_EQ(MODE_INSTALL, a.mode);
    EXPECT_TRUE(a.host_given);
    EXPECT_STREQ("127.0.0.1", a.host);
    EXPECT_STREQ("", a.unknown);

    command_line b = parse("  -ip   10.1.2.3   -CHECK ");
    EXPECT_EQ(MODE_CHECK, b.mode);
    EXPECT_STREQ("10.1.2.3", b.host);

    command_line c = parse("-check -ip10.1.2.3");
    EXPECT_STREQ("10.1.2.3", c.host);

    command_line d = parse("-install");
    EXPECT_FALSE(d.host_given);

    // -install wins over -check: the stronger request is never silently dropped.
    EXPECT_EQ(MODE_INSTALL, parse("-check -install").mode);
    EXPECT_EQ(MODE_HELP, parse("-install -?").mode);
    EXPECT_EQ(MODE_HELP, parse("-help").mode);
    EXPECT_EQ(MODE_HELP, parse("/?").mode);
}

TEST(CommandLine, WhatIsNotUnderstoodIsNamed)
{
    EXPECT_STREQ("-force", parse("-install -force").unknown);
    EXPECT_STREQ("-ip", parse("-check -ip").unknown);
    EXPECT_STREQ("extra", parse("-install -ip host extra").unknown);
    std::string long_host(SERVER_HOST_SIZE, 'h');
    command_line e = parse(("-install -ip " + long_host).c_str());
    EXPECT_TRUE(e.host_too_long);
    EXPECT_FALSE(e.host_given);
}

TEST(CommandLine, WindowModeKeepsTheOldIpReading)
{
    command_line a = parse("-ip 192.168.0.10");
    EXPECT_EQ(MODE_WINDOW, a.mode);
    EXPECT_STREQ("", a.unknown);
    EXPECT_FALSE(a.host_given);  // the window reads "-ip" itself
    // Words after "-ip" belong to its host text, even ones that look like options.
    EXPECT_STREQ("", parse("-ip a -ip b -x").unknown);
    EXPECT_STREQ("", parse("-ip10.1.2.3").unknown);
    EXPECT_STREQ("-x", parse("-x -ip 1.2.3.4").unknown);
    EXPECT_STREQ("-x", parse("-x").unknown);
    EXPECT_EQ(MODE_WINDOW, parse("").mode);
    EXPECT_EQ(MODE_WINDOW, parse(nullptr).mode);
}

TEST(CommandLine, UrlInEveryModeAndTooLongNamed)
{
    command_line a = parse("-install -url https://cdn.example/lib/ -ip 10.0.0.1");
    EXPECT_EQ(MODE_INSTALL, a.mode);
    EXPECT_TRUE(a.url_given);
    EXPECT_STREQ("https://cdn.example/lib/", a.url);
    EXPECT_STREQ("10.0.0.1", a.host);

    command_line w = parse("-URL http://h/x");
    EXPECT_EQ(MODE_WINDOW, w.mode);
    EXPECT_STREQ("http://h/x", w.url);
    EXPECT_STREQ("", w.unknown);

    EXPECT_STREQ("-url", parse("-check -url").unknown);
    // Longer than the other options may be, but not without end: never cut into another one.
    std::string longest = "-check -url http://h/" + std::string(LIBRARY_URL_MAX - 9, 'a');
    command_line l = parse(longest.c_str());
    EXPECT_TRUE(l.url_too_long);
    EXPECT_FALSE(l.url_given);
    std::string fits = "-check -url http://h/" + std::string(LIBRARY_URL_MAX - 10, 'a');
    EXPECT_TRUE(parse(fits.c_str()).url_given);
}

// The window reads "-ip" anywhere, as it always has, but never inside a -url's address.
TEST(CommandLine, TheWindowsIpReadingPassesOverTheUrl)
{
    char host[SERVER_HOST_SIZE];
    const char *text = "-url https://my-ip.example/lib/ -x";
    command_line w = parse(text);
    EXPECT_STREQ("https://my-ip.example/lib/", w.url);
    EXPECT_STREQ("-x", w.unknown) << "a word after the address is still checked";
    EXPECT_EQ(IP_OPTION_ABSENT, read_window_ip_option(text, &w, host, sizeof host));

    text = "-ip 10.0.0.1 -url http://cdn-ip.example/";
    w = parse(text);
    ASSERT_EQ(IP_OPTION_STORED, read_window_ip_option(text, &w, host, sizeof host));
    char trimmed[SERVER_HOST_SIZE];
    trim_host(host, trimmed, sizeof trimmed);
    EXPECT_STREQ("10.0.0.1", trimmed);

    text = "-url http://h/ -ip 10.0.0.2";
    w = parse(text);
    ASSERT_EQ(IP_OPTION_STORED, read_window_ip_option(text, &w, host, sizeof host));
    EXPECT_STREQ(" 10.0.0.2", host);
}

}  // namespace
