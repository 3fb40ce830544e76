// The check behind "epk2 verify": an opened archive compared with what
// readers rely on and with everything ArchiveBuilder fixes in the archives it
// writes. Opening only makes sure that walks and reads stay inside the
// archive. Each finding carries a verdict:
//
// - INVALID: the archive breaks what readers rely on: the header's figures
//   or the table's bounds, links that leave their tables or loop, names
//   that are not NUL-terminated or hold "/", keys beyond the four.
// - NOTE: it differs from what the builder writes but reads back the same.
//   Other writers of the format make other choices, and players hold their
//   archives: key 0 or keys out of rotation, attribute bytes, an index field
//   other than the record number, non-zero reserved header fields, names
//   out of byte order or outside the name area (the root's name among them),
//   empty names (no path finds such a record), links back that do not mirror
//   the chains, records numbered in another order or reached by nothing,
//   data blocks in another order, with gaps or without the zero padding.
//
// What the builder writes, against which the NOTEs are measured:
// - header: reserved words zero, the table end a multiple of 32 and exactly
//   where the records, the names and their zero padding end;
// - names: the name area runs from the last file record to the padding and
//   holds every name the records use exactly once, NUL-terminated, in byte
//   order, the root's empty name first; no two files and no two folders of
//   one name in one folder;
// - links: previous links mirror the next links, first ones are 0; the root
//   has no parent and no siblings; folders are numbered after their parent
//   and siblings and files in chain order;
// - files: the index field is the record number, the attribute byte 0, the
//   key (record number - 1) % 4 + 1; data blocks follow one another in record
//   order from the table end on, each padded with zeros to 32 bytes, and
//   nothing follows the last (an empty file's block is empty, at the
//   position the next block starts).
#pragma once

#include <cstdint>

struct FileSystem;

enum ArchiveVerdict {
    ARCHIVE_NOTE = 1,    // reads back correctly; not what the builder writes
    ARCHIVE_INVALID = 2, // breaks what readers rely on
};

// The word verify prints for a verdict: "NOTE" or "INVALID".
const char* archive_verdict_name(ArchiveVerdict verdict);

// One finding. where: the record's path ("/data/a.txt", "/" for the root);
// "directory record N" or "file record N" for a record the tree does not
// reach; "header", "name area" or "data area" for the rest. reason says what
// is wrong. Both are code page 932 text.
typedef void (*ArchiveFindingCallback)(void* context, ArchiveVerdict verdict, const char* where,
                                       const char* reason);

// Checks the archive fs (opened with archive_open*) and hands each finding
// to callback as it is found; returns how many there were of either verdict
// (0: the archive is laid out exactly as the builder lays it out). The header's reserved words
// and the padding between data blocks are not part of the table copy: they
// are read through the file the archive was opened from, or from bytes
// (size bytes, the whole archive) when it was opened from memory. Without
// either those two checks are left out. Callers that do not pass bytes pass
// null and 0.
uint32_t archive_check(FileSystem* fs, const void* bytes, uint32_t size, void* context,
                       ArchiveFindingCallback callback);
