// The text protocol's words are what PCs in the field send and expect, byte for byte: the
// client, server and tests all take them from one header, so only this test notices an edit.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/text_protocol.h"

TEST(TextProtocol, WireWordsAreTheFieldsOwn)
{
    EXPECT_EQ(std::string(TEXT_REQUEST_CATALOGUE), "#REQ:UPDATELIST");
    EXPECT_EQ(std::string(TEXT_REQUEST_FILE), "#REQ:FTP_RCV:");
    EXPECT_EQ(std::string(TEXT_ANSWER_OK), "#EXL: OK:");
    EXPECT_EQ(std::string(TEXT_ANSWER_REFUSED), "#EXL:ERR:");
    EXPECT_EQ(std::string(TEXT_RECORD_SEPARATOR), "~|");
    EXPECT_EQ(std::string(TEXT_FIELD_SEPARATOR), "^|");
}

TEST(TextProtocol, LengthsAndReceiveSizes)
{
    EXPECT_EQ(TEXT_REQUEST_FILE_LENGTH, static_cast<int>(std::strlen(TEXT_REQUEST_FILE)));
    EXPECT_EQ(TEXT_ANSWER_PREFIX_LENGTH, 9);
    EXPECT_EQ(TEXT_RECEIVE_SIZE, 40960) << "announced as the block size; PCs read this much";
    EXPECT_EQ(TEXT_CATALOGUE_RECEIVE_SIZE, 2048)
        << "PCs read the catalogue's answer in one 2048-byte receive";
}
