#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "core/entity_names.h"
#include "core/field_split.h"
#include "core/field_split_text.h"
#include "core/text_protocol.h"

namespace {

std::string field(const field_list &list, int i)
{
    return std::string(list.starts[i], static_cast<size_t>(list.lengths[i]));
}

// A list whose slots all hold a recognisable stale value, to see which ones a split clears.
field_list stale_list(char *stale)
{
    field_list list{};
    for (int i = 0; i < FIELD_LIST_CAPACITY; ++i) {
        list.starts[i] = stale;
        list.lengths[i] = 77;
    }
    list.count = 99;
    return list;
}

std::string repeat_fields(int n, const char *separator)
{
    std::string text;
    for (int i = 0; i < n; ++i) {
        if (i)
            text += separator;
        text += "f" + std::to_string(i);
    }
    return text;
}

}  // namespace

TEST(SplitFields, PlainFieldsAndTrailingSeparator)
{
    field_list list{};
    char text[] = "a^|b^|c";
    ASSERT_EQ(split_fields(&list, text, "^|", 150), 3);
    EXPECT_EQ(field(list, 0), "a");
    EXPECT_EQ(field(list, 1), "b");
    EXPECT_EQ(field(list, 2), "c");
    EXPECT_STREQ(text, "a^|b^|c") << "splitting must not write into the text";
    EXPECT_STREQ(list.separator, "^|");
    EXPECT_EQ(list.source, text);

    terminate_fields(&list);
    EXPECT_STREQ(list.starts[0], "a");
    EXPECT_STREQ(list.starts[1], "b");
    EXPECT_STREQ(list.starts[2], "c");

    char trailing[] = "a^|b^|";
    ASSERT_EQ(split_fields(&list, trailing, "^|", 150), 3);
    EXPECT_EQ(list.lengths[2], 0);
    EXPECT_EQ(list.starts[2], trailing + 6);
}

TEST(SplitFields, AbsentOrEmptyInputs)
{
    field_list list{};
    char text[] = "a;b";
    char empty[] = "";
    EXPECT_EQ(split_fields(nullptr, text, ";", 150), 0);
    EXPECT_EQ(split_fields(&list, nullptr, ";", 150), 0);
    EXPECT_EQ(split_fields(&list, text, nullptr, 150), 0);
    EXPECT_EQ(split_fields(&list, text, "", 150), 0);
    EXPECT_EQ(split_fields(&list, empty, ";", 150), 0);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(split_fields(&list, text, ";", 0), 0);
    // A maximum beyond the capacity is held to the capacity.
    std::string many = repeat_fields(400, ";");
    EXPECT_EQ(split_fields(&list, &many[0], ";", 100000), 150);
}

TEST(SplitFields, ClearsUpToTenSlotsBelowTheMaximum)
{
    char stale[] = "stale";
    field_list list = stale_list(stale);
    char text[] = "a%b%c";
    ASSERT_EQ(split_fields(&list, text, "%", 150), 3);
    for (int i = 3; i < 13; ++i) {
        EXPECT_EQ(list.starts[i], nullptr) << i;
        EXPECT_EQ(list.lengths[i], 0) << i;
    }
    EXPECT_EQ(list.starts[13], stale);

    // The address split passes 4: only slot 3 lies below it.
    list = stale_list(stale);
    char address[] = "10.1.2";
    ASSERT_EQ(split_fields(&list, address, ".", 4), 3);
    EXPECT_EQ(list.starts[3], nullptr);
    EXPECT_EQ(list.starts[4], stale);
}

TEST(SplitFields, CapOf150)
{
    field_list list{};
    std::string text = repeat_fields(151, "~|");
    ASSERT_EQ(split_fields(&list, &text[0], "~|", 150), 150);
    EXPECT_EQ(field(list, 149), "f149");

    std::string exact = repeat_fields(150, "~|") + "~|";
    ASSERT_EQ(split_fields(&list, &exact[0], "~|", 150), 150);
    EXPECT_EQ(field(list, 149), "f149");

    char address[] = "1.2.3.4.5";
    ASSERT_EQ(split_fields(&list, address, ".", 4), 4);
    EXPECT_EQ(field(list, 3), "4");
}

TEST(SplitFields, CharacterReferencesDoNotCut)
{
    field_list list{};
    char numeric[] = "x&#59;y;z";
    ASSERT_EQ(split_fields(&list, numeric, ";", 150), 2);
    EXPECT_EQ(field(list, 0), "x&#59;y");
    EXPECT_EQ(field(list, 1), "z");

    char named[] = "x&amp;y;z";
    ASSERT_EQ(split_fields(&list, named, ";", 150), 2);
    EXPECT_EQ(field(list, 0), "x&amp;y");

    // The byte right after a reference name is never the start of a separator.
    char glued[] = "x&amp^|y";
    ASSERT_EQ(split_fields(&list, glued, "^|", 150), 1);
    EXPECT_EQ(field(list, 0), "x&amp^|y");

    // Unknown names and a lone "&" are ordinary characters.
    char unknown[] = "a&zz;b;&";
    ASSERT_EQ(split_fields(&list, unknown, ";", 150), 3);
    EXPECT_EQ(field(list, 0), "a&zz");
    EXPECT_EQ(field(list, 2), "&");
}

TEST(SplitFields, QuotedFields)
{
    field_list list{};
    char quoted[] = "\"a;b\";c";
    ASSERT_EQ(split_fields(&list, quoted, ";", 150), 2);
    EXPECT_EQ(field(list, 0), "a;b");
    EXPECT_EQ(field(list, 1), "c");

    char apostrophes[] = "'abc';\";x";
    ASSERT_EQ(split_fields(&list, apostrophes, ";", 150), 3);
    EXPECT_EQ(field(list, 0), "abc");
    EXPECT_EQ(field(list, 1), "\"") << "a lone quote stays";
    EXPECT_EQ(field(list, 2), "x");

    // Without a closing quote the field is cut as an ordinary one.
    char open[] = "\"a;b";
    ASSERT_EQ(split_fields(&list, open, ";", 150), 2);
    EXPECT_EQ(field(list, 0), "\"a");

    // Once a separator has been passed inside the quotes, any later quote closes them.
    char glued[] = "\"a;b\"c;d";
    ASSERT_EQ(split_fields(&list, glued, ";", 150), 2);
    EXPECT_EQ(field(list, 0), "\"a;b\"c");
    EXPECT_EQ(field(list, 1), "d");

    // A quote at the very end closes the field that runs to the end of the text.
    char whole[] = "\"a;b\"";
    ASSERT_EQ(split_fields(&list, whole, ";", 150), 1);
    EXPECT_EQ(field(list, 0), "a;b");
}

TEST(SplitRecords, CutsAndTerminates)
{
    field_list list{};
    char text[] = "r1~|r2~|";
    ASSERT_EQ(split_records(&list, text), 3);
    EXPECT_STREQ(list.starts[0], "r1");
    EXPECT_STREQ(list.starts[1], "r2");
    EXPECT_EQ(list.lengths[2], 0);
    EXPECT_EQ(text[2], '\0');
    EXPECT_EQ(text[6], '\0');

    char tilde[] = "a~b~|c";
    ASSERT_EQ(split_records(&list, tilde), 2);
    EXPECT_STREQ(list.starts[0], "a~b");
    EXPECT_STREQ(list.starts[1], "c");

    char empty[] = "";
    EXPECT_EQ(split_records(&list, empty), 0);
    EXPECT_EQ(split_records(&list, nullptr), 0);
    EXPECT_EQ(split_records(nullptr, text), 0);
}

TEST(SplitRecords, CapAndClearedSlot)
{
    char stale[] = "stale";
    field_list list = stale_list(stale);
    char text[] = "x~|y";
    ASSERT_EQ(split_records(&list, text), 2);
    EXPECT_EQ(list.starts[2], nullptr);
    EXPECT_EQ(list.starts[3], stale) << "only one slot is cleared";

    std::string many = repeat_fields(160, "~|");
    ASSERT_EQ(split_records(&list, &many[0]), 150);
    EXPECT_STREQ(list.starts[149], "f149");

    std::string exact = repeat_fields(150, "~|") + "~|";
    ASSERT_EQ(split_records(&list, &exact[0]), 150);
}

// The std::string companion must cut exactly where the client cuts, since the load generator
// and the probe judge the server by it.
TEST(SplitFieldTexts, CutsAsTheClientDoes)
{
    using fields = std::vector<std::string>;
    EXPECT_EQ(split_field_texts("a.dll^|1^|2^|-3^|4", TEXT_FIELD_SEPARATOR),
              (fields{"a.dll", "1", "2", "-3", "4"}));
    EXPECT_EQ(split_field_texts("r1~|r2~|", TEXT_RECORD_SEPARATOR), (fields{"r1", "r2", ""}))
        << "a closing separator leaves an empty record";
    EXPECT_EQ(split_field_texts("~|r", TEXT_RECORD_SEPARATOR), (fields{"", "r"}));
    EXPECT_EQ(split_field_texts("x&amp^|y^|z", TEXT_FIELD_SEPARATOR), (fields{"x&amp^|y", "z"}))
        << "a separator right after a reference name does not cut";
    EXPECT_EQ(split_field_texts("\"q^|uoted\"^|'b'", TEXT_FIELD_SEPARATOR),
              (fields{"q^|uoted", "b"}));
    EXPECT_EQ(split_field_texts(std::string("a^|b\0^|c", 8), TEXT_FIELD_SEPARATOR),
              (fields{"a", "b"}))
        << "the text ends at its first NUL, as in the client's buffer";
    EXPECT_TRUE(split_field_texts("", TEXT_FIELD_SEPARATOR).empty());
    EXPECT_TRUE(split_field_texts("abc", "").empty());

    const std::string many = repeat_fields(160, TEXT_RECORD_SEPARATOR);
    fields cut = split_field_texts(many, TEXT_RECORD_SEPARATOR);
    ASSERT_EQ(cut.size(), static_cast<size_t>(FIELD_LIST_CAPACITY));
    EXPECT_EQ(cut.back(), "f149");
    EXPECT_EQ(many, repeat_fields(160, TEXT_RECORD_SEPARATOR))
        << "the caller's text is not written";
}

TEST(TerminateFields, SingleFieldIsLeftAlone)
{
    field_list list{};
    char text[] = "abc";
    ASSERT_EQ(split_fields(&list, text, ";", 150), 1);
    list.lengths[0] = 1;  // a terminator would now land inside the text
    terminate_fields(&list);
    EXPECT_STREQ(text, "abc");
    terminate_fields(nullptr);
}

TEST(HasSuffix, Cases)
{
    EXPECT_EQ(has_suffix("PlimoExcel.xla", "xla"), 1);
    EXPECT_EQ(has_suffix("fooxla", "xla"), 1) << "no dot implied";
    EXPECT_EQ(has_suffix("xla", "xla"), 1);
    EXPECT_EQ(has_suffix("A.XLA", "xla"), 0) << "letter case counts";
    EXPECT_EQ(has_suffix("xl", "xla"), 0);
    EXPECT_EQ(has_suffix("", "xla"), 0);
    EXPECT_EQ(has_suffix("abc", ""), 0);
    EXPECT_EQ(has_suffix(nullptr, "xla"), 0);
    EXPECT_EQ(has_suffix("a.xls", nullptr), 0);
    EXPECT_EQ(has_suffix("a.xls", "xla"), 0);
    EXPECT_EQ(has_suffix("a.xla", "xls"), 0);
    EXPECT_EQ(has_suffix("a.\xB0", "\x7F"), 0) << "bytes compare exactly";
    EXPECT_EQ(has_suffix("a.\xB0", "\xB0"), 1) << "bytes compare exactly";
}

TEST(EntityLength, ShortestKnownName)
{
    EXPECT_EQ(entity_length("&nbsp;"), 5);
    EXPECT_EQ(entity_length("&notin;"), 4);
    EXPECT_EQ(entity_length("&zz"), 0);
    EXPECT_EQ(entity_length("&"), 0);
    EXPECT_EQ(entity_length("&am"), 0) << "cut off by the end of the text";
    EXPECT_EQ(entity_length("&a,mp"), 0);
    EXPECT_EQ(entity_length("&AElig;"), 6);
    EXPECT_EQ(entity_length("&yuml"), 5);
    EXPECT_EQ(entity_length("&quot;"), 5);
    EXPECT_EQ(entity_length("&Yuml;"), 0) << "names are case-sensitive";
    EXPECT_EQ(entity_length("amp;"), 0);
    EXPECT_EQ(entity_length(nullptr), 0);
}

TEST(EntityLength, ConcurrentUseAgrees)
{
    std::vector<std::thread> threads;
    std::vector<int> results(8, -1);
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&results, i] { results[i] = entity_length("&frac34;"); });
    for (auto &t : threads)
        t.join();
    for (int r : results)
        EXPECT_EQ(r, 7);
}
