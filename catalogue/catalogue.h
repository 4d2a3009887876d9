// The catalogue: one entry per library file the server publishes, in list-row order,
// and the main window's state that the retrievals and install passes share.
#pragma once
#include "core/field_list.h"
#include "core/library_name.h"
#include "core/text_protocol.h"

enum { CATALOGUE_MAX_ENTRIES = 15, RECEIVE_BUFFER_SIZE = TEXT_RECEIVE_SIZE };

// The ways a catalogue comes. The preference is one of the first two, which are also the
// numbers stored as "IsPlimo" ("0", "1").
enum { PROTOCOL_FRAMED = 0, PROTOCOL_TEXT = 1, PROTOCOL_WEB = 2 };

struct catalogue_entry {
    char *name;
    char *crc;
    char *size;
    char *time_low;
    char *time_high;  // any of the five may be absent for a short record
};

extern catalogue_entry *g_catalogue;
extern int g_catalogue_count;
extern char *g_receive_buffer;     // RECEIVE_BUFFER_SIZE bytes, owned by the main window
extern int g_protocol_preference;  // tried first: PROTOCOL_TEXT (at start) or PROTOCOL_FRAMED
extern int g_installed_count;      // files installed in this run of the program

// Cuts each record at "^|" and copies its first five fields into a new catalogue
// (entries of their own). Releases any previous catalogue first.
void build_catalogue(field_list *records);
void release_catalogue();

// 1 when two entries name one file as Windows compares names (letter case, full-width and other
// letters alike): *first and *second get their indices. Such a catalogue would install into
// one file twice, and is not one to act on. 0 otherwise.
int catalogue_duplicate(int *first, int *second);

// Text retrieval over the open channel socket: 1 on success (1 to 15 records).
int fetch_catalogue_text(field_list *records);
// Framed retrieval through a new current framed session: 1 on success (2 to 15 records).
int fetch_catalogue_framed(field_list *records);
