// The archive tests' in-memory EPK2 writer, built into this test program too.
#include "archive/test_archive_writer.cpp"
