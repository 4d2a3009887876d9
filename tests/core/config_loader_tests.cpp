#include <gtest/gtest.h>

#include <string>

#include "core/config_loader.h"
#include "temp_dir.h"

namespace {

// Loads text from a scratch file; the tree is released by the fixture.
class ConfigLoader : public ::testing::Test {
protected:
    void SetUp() override { dir_ = make_temp_dir(); }
    void TearDown() override
    {
        release_config(&tree_);
        remove_temp_dir(dir_);
    }
    int load(const std::string &text)
    {
        release_config(&tree_);
        return load_config(write_temp_file(dir_, "Offline.INI", text).c_str(), &tree_);
    }
    // The value, or "<absent>" when not found.
    std::string value(const char *section, const char *key, int capacity = 8192)
    {
        std::string dest(static_cast<size_t>(capacity), 'x');
        if (!get_config_value(&tree_, section, key, &dest[0], capacity)) {
            EXPECT_EQ(dest[0], '\0') << "destination is emptied first";
            return "<absent>";
        }
        return dest.c_str();
    }

    temp_dir dir_;
    config_section tree_{};
};

}  // namespace

TEST_F(ConfigLoader, BasicFileAndLookupRules)
{
    EXPECT_EQ(load("; settings\r\n[SERVER]\r\nIP = 10.1.2.3   \r\nPORT=6000\r\n"), 2);
    EXPECT_EQ(value("SERVER", "IP"), "10.1.2.3");
    EXPECT_EQ(value("SERVER", "PORT"), "6000");
    EXPECT_EQ(value("server", "IP"), "<absent>") << "section names are case-sensitive";
    EXPECT_EQ(value("SERVER", "ip"), "<absent>") << "keys are case-sensitive";
    EXPECT_EQ(value("SERVER", "IP", 5), "10.1") << "cut to capacity - 1";
    EXPECT_EQ(value("SERVER", "IP", 1), "");
    EXPECT_EQ(value(nullptr, "IP"), "<absent>");
}

TEST_F(ConfigLoader, EntryLineRules)
{
    // Counted: every entry line, accepted or not. Headers, comments and blanks are not.
    EXPECT_EQ(
        load("early=lost\n[S]\nP=1\nP =1\n=x\nnoequals\n  ab= c=d \n\tt=v\nab=second\n;c=d\n\n"),
        8);
    EXPECT_EQ(value("S", "P"), "1") << "P=1 is rejected, P =1 gives key P";
    EXPECT_EQ(value("S", "ab"), "c=d") << "first value kept, further = in the value";
    EXPECT_EQ(value("S", "\tt"), "v") << "tabs are not blanks";
    EXPECT_EQ(value("S", "early"), "<absent>");
    EXPECT_EQ(value("S", ";c"), "<absent>");
    EXPECT_EQ(tree_.next, nullptr);
    ASSERT_NE(tree_.first, nullptr);
    EXPECT_STREQ(tree_.first->key, "P") << "entries keep the order of first appearance";
}

TEST_F(ConfigLoader, SectionsAndDuplicates)
{
    EXPECT_EQ(load("[A]]  \nkk=1\n[B]\nkk=2\n[A]\njj=3\nkk=4\n[Z]\n[]\nqq=5\n"), 5);
    EXPECT_EQ(value("A", "kk"), "1");
    EXPECT_EQ(value("A", "jj"), "3") << "a repeated header continues the section";
    EXPECT_EQ(value("B", "kk"), "2");
    EXPECT_EQ(value("Z", "qq"), "<absent>");
    EXPECT_EQ(value("]", "qq"), "5") << "a header keeps its first character";
    ASSERT_NE(tree_.next, nullptr);
    EXPECT_STREQ(tree_.name, "A");
    EXPECT_STREQ(tree_.next->name, "B");
    EXPECT_STREQ(tree_.next->next->name, "Z");
}

TEST_F(ConfigLoader, Continuation)
{
    EXPECT_EQ(load("[SERVER]\nIP=10.1._\n; comment\n[SERVER]\n2.3\nNEXT=a_\nb_\nc\n"), 5);
    EXPECT_EQ(value("SERVER", "IP"), "10.1.2.3");
    EXPECT_EQ(value("SERVER", "NEXT"), "abc");

    // Onto the first entry for a duplicate key; dropped after a rejected line.
    EXPECT_EQ(load("[S]\nkk=1\nkk=2_\nmore\nx_\nlost=1\n"), 5);
    EXPECT_EQ(value("S", "kk"), "1more");
    EXPECT_EQ(value("S", "lost"), "<absent>");
}

TEST_F(ConfigLoader, ByteRulesAndLimits)
{
    std::string text("[S]\r\nAA=1\x1A"
                     "2\r\nBB=x");
    text += std::string("\0y\n", 3);
    text += "CC=" + std::string(3000, 'v') + "\n";
    text += std::string(300, 'K') + "=k\n";
    text += "DD=" + std::string(5000, 'd') + "EE=no\n";
    text += "last=no newline";
    EXPECT_EQ(load(text), 6);
    EXPECT_EQ(value("S", "AA"), "12");
    EXPECT_EQ(value("S", "BB"), "x y") << "NUL reads as a space";
    EXPECT_TRUE(value("S", "CC") == std::string(2047, 'v'));
    EXPECT_EQ(value("S", std::string(255, 'K').c_str()), "k");
    EXPECT_TRUE(value("S", "DD") == std::string(2047, 'd'));
    EXPECT_EQ(value("S", "last"), "no newline");
    // A long line loses its end, and the text after it is no separate line.
    EXPECT_EQ(value("S", "EE"), "<absent>");
}

TEST_F(ConfigLoader, NothingToRead)
{
    EXPECT_EQ(load("; only\n;comments\n\n   \n"), 0);
    EXPECT_EQ(load(""), 0);
    EXPECT_EQ(load_config((dir_.path + "/absent.ini").c_str(), &tree_), 0);
    EXPECT_EQ(load_config(nullptr, &tree_), 0);
    // Released tree: empty again and reusable.
    EXPECT_EQ(load("[S]\nkk=v\n[T]\n"), 1);
    release_config(&tree_);
    EXPECT_EQ(tree_.name, nullptr);
    EXPECT_EQ(tree_.next, nullptr);
    EXPECT_EQ(tree_.first, nullptr);
    EXPECT_EQ(value("S", "kk"), "<absent>");
}
