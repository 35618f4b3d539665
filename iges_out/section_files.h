// Section files of the writers of this folder (IGES and the own DXF
// writer): made exclusively under their names in the temporary directory,
// registered so that every way out of the run removes them, and joined into
// the output file through a temporary name beside it.
#pragma once

#include <cstdio>
#include <string>

// Creates `path` for writing with O_CREAT|O_EXCL (never through an existing
// file or link) and registers it.  nullptr when it cannot be made or the
// table of registered files is full.
std::FILE* createSectionFile(const std::string& path);
// Unlinks the file now and forgets it.
void removeSectionFile(const std::string& path);
// A writer's set of section files, made, closed and removed together.
// openSectionFileSet creates `names[0..count)` in order into `files` and
// `paths`; when one cannot be made, error 140 (console) is reported under
// `code`, the ones made are closed and removed, and the result is -1.
int openSectionFileSet(const std::string* names, int count, std::FILE** files, std::string* paths,
                       const char* code);
// Closes the open files of the set: false when a close failed.
bool closeSectionFileSet(std::FILE** files, int count);
// Closes what is still open and removes every file of the set (a former
// run's leftovers).
void discardSectionFileSet(std::FILE** files, const std::string* paths, int count);
// Unlinks every registered file (async-signal-safe: no allocation, only
// unlink on fixed buffers).
void removeAllSectionFiles();

struct JoinResult {
  int status = 0;   // 0, or -4 when the output file cannot be made or written
  int missing = 0;  // section files that were not there
};
// Appends the section files in order into `outputName`: the output is
// written to a temporary name beside it and renamed at the end, so it never
// exists half-written.  Each section file is removed after copying; a
// missing one is skipped and counted.  On failure the temporary output is
// removed (the section files too) and error 980 names the output file.
JoinResult joinFiles(const std::string* sectionFiles, int count, const std::string& outputName,
                     const char* code);
