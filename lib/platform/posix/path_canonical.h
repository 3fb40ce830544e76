// Lexical clean-up of "/"-separated paths, shared by the full-path and the
// path-joining functions of the POSIX build.
#pragma once

// Resolves the "." and ".." components of path in place and folds repeated
// separators into one. An absolute path never climbs above "/"; a relative
// path keeps the leading ".." that have nothing to cancel and becomes "."
// when everything cancels. A trailing separator is kept. The text is code
// page 932, whose trail bytes are never "/", so it is scanned bytewise.
void posix_path_canonicalize(char* path);
