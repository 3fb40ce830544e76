// The strict check behind "epk2 verify": an opened archive compared with
// everything ArchiveBuilder fixes in the archives it writes. Opening only
// makes sure that walks and reads stay inside the archive; an archive that
// opens and reads may still break the layout in ways other readers (the
// game's own among them) need not tolerate.
//
// What the builder writes, and so what is checked:
// - header: reserved words zero, at most 65,535 files, the table end a
//   multiple of 32 and exactly where the records, the names and their zero
//   padding end;
// - names: the name area runs from the last file record to the padding and
//   holds every name the records use exactly once, NUL-terminated, in byte
//   order, the root's empty name first; every record's name offset points
//   at the start of one of them; no two files and no two folders of one
//   name in one folder;
// - links: every record reachable from the root exactly once; each
//   subfolder's parent link names the folder whose chain holds it; previous
//   links mirror the next links, first ones are 0; the root has no parent
//   and no siblings; folders are numbered after their parent and siblings
//   and files in chain order (records are numbered as they are created);
// - files: the index field is the record number, the attribute byte 0, the
//   key (record number - 1) % 4 + 1; data blocks follow one another in record
//   order from the table end on, each padded with zeros to 32 bytes, and
//   nothing follows the last (an empty file's block is empty, at the
//   position the next block starts).
#pragma once

#include <cstdint>

struct FileSystem;

// One finding. where: the record's path ("/data/a.txt", "/" for the root);
// "directory record N" or "file record N" for a record the tree does not
// reach; "header", "name area" or "data area" for the rest. reason says what
// is wrong. Both are code page 932 text.
typedef void (*ArchiveFindingCallback)(void* context, const char* where, const char* reason);

// Checks the archive fs (opened with archive_open*) and hands each finding
// to callback as it is found; returns how many there were (0: the archive is
// laid out exactly as the builder lays it out). The header's reserved words
// and the padding between data blocks are not part of the table copy: they
// are read through the file the archive was opened from, or from bytes
// (size bytes, the whole archive) when it was opened from memory. Without
// either those two checks are left out. Callers that do not pass bytes pass
// null and 0.
uint32_t archive_check(FileSystem* fs, const void* bytes, uint32_t size, void* context,
                       ArchiveFindingCallback callback);
