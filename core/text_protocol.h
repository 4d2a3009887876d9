// The text protocol: NUL-terminated requests and answers over one TCP connection. The client,
// the server, the load generator and the probe take its words from here, so the bytes on the
// wire are written once.
//
//   "#REQ:UPDATELIST"         the catalogue; answered "#EXL: OK:" + records
//   "#REQ:FTP_RCV:" + name    a file; answered "#EXL: OK:" name ~| block ~| size, then its bytes
//   "#EXL:ERR:" + reason      any refusal
//
// Records are joined by "~|", a record's fields (name, crc, size, time low, time high) by "^|".
#pragma once

#define TEXT_REQUEST_CATALOGUE "#REQ:UPDATELIST"
#define TEXT_REQUEST_FILE      "#REQ:FTP_RCV:"
#define TEXT_ANSWER_OK         "#EXL: OK:"
#define TEXT_ANSWER_REFUSED    "#EXL:ERR:"
#define TEXT_RECORD_SEPARATOR  "~|"
#define TEXT_FIELD_SEPARATOR   "^|"

enum {
    TEXT_REQUEST_FILE_LENGTH = sizeof TEXT_REQUEST_FILE - 1,
    // Both answers open with a status of this length; the client compares only that much.
    TEXT_ANSWER_PREFIX_LENGTH = sizeof TEXT_ANSWER_OK - 1,
    // The client reads a file's answer in one receive of this size, and the server announces
    // it as the block size.
    TEXT_RECEIVE_SIZE = 40960,
    // The client reads the catalogue's answer in one receive of at most this many bytes.
    TEXT_CATALOGUE_RECEIVE_SIZE = 2048,
};

static_assert(sizeof TEXT_ANSWER_REFUSED - 1 == TEXT_ANSWER_PREFIX_LENGTH,
              "the client tells the answers apart by a prefix of one length");
