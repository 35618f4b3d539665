// Section files of the writers of this folder (IGES and the own DXF
// writer): scratch files of the run in the temporary directory, with an
// unpredictable name and mode 0600, removed however the run ends, and
// joined into the output file, which is written under a temporary name
// beside it and put under its name only when complete.
#pragma once

#include <cstdio>
#include <string>

// Creates a section file named like `nameLike` ("<tmp>/strt12_1.tmp" is
// made as "<tmp>/strt12_1_XXXXXX.tmp"); `path` receives the name made.
// nullptr when it cannot be made (errno says why).
std::FILE* createSectionFile(const std::string& nameLike, std::string& path);
// Unlinks the file now and forgets it.
void removeSectionFile(const std::string& path);
// A writer's set of section files, made, closed and removed together.
// openSectionFileSet creates files named like `names[0..count)` in order
// into `files` and `paths`; when one cannot be made, error 140 (console)
// names it and the reason under `code`, the ones made are closed and
// removed, and the result is -1.
int openSectionFileSet(const std::string* names, int count, std::FILE** files, std::string* paths,
                       const char* code);
// Closes the open files of the set: false when a close failed (noted as a
// write failure of that file).
bool closeSectionFileSet(std::FILE** files, int count);
// Closes what is still open and removes every file of the set.
void discardSectionFileSet(std::FILE** files, const std::string* paths, int count);
// Unlinks every section file still made.
void removeAllSectionFiles();

// The first failed write of a section file, with the system's error
// number: a full or limited temporary folder ends the output with one error
// that names the file, instead of a failure per element.
void noteSectionWriteFailure(std::FILE* file, int error);
bool sectionWriteFailed();
// Error 1300 naming the file and the reason, once per failure noted.
void reportSectionWriteFailure(const char* code);

struct JoinResult {
  int status = 0;   // 0, or -4 when the output file cannot be made or written
  int missing = 0;  // section files that were not there
};
// Appends the section files in order into `outputName`.  Each section file
// is removed after copying; a missing one is skipped and counted.  On
// failure nothing is put under the output name, the section files are
// removed, and error 1301 (cannot be created) or 1300 (cannot be written)
// names the output file and the reason.
JoinResult joinFiles(const std::string* sectionFiles, int count, const std::string& outputName,
                     const char* code);
