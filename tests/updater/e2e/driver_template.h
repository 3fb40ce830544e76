// Reads the dialog template and the manifest back out of the updater's
// executable, as Windows will find them.
#pragma once

#include <string>

class Report;

// Dialog 101 in the Japanese language: its header as "template.*" findings
// and each control as "template.control.N" = id|class|text|x,y,w,h|style|exstyle
// (class names in lower case, as Windows compares them).
bool dump_template(const std::wstring& exe, Report& report, std::string& error);
// Copies manifest 1 (type 24) into a file as stored.
bool save_manifest(const std::wstring& exe, const std::wstring& output, std::string& error);
