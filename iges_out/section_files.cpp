#include "iges_out/section_files.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

#include "support/messages.h"
#include "support/output_file.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

constexpr int kMsgNoTemporaryFile = 140;
constexpr int kMsgCannotWrite = 1300;
constexpr int kMsgCannotCreate = 1301;
// The buffer of a section file, written and read back.
constexpr std::size_t kSectionBuffer = 1 << 20;

struct OpenSection {
  std::FILE* file;
  std::string path;
};

struct SectionFileState {
  std::vector<OpenSection> open;  // the section files made and not removed
  std::string failedPath;         // the first failed write
  int failedError = 0;
  bool failureReported = false;
};

SectionFileState& sectionFiles() {
  static SectionFileState state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("section files", [] {
  removeAllSectionFiles();
  sectionFiles() = SectionFileState{};
});

std::string pathOf(std::FILE* file) {
  for (const OpenSection& s : sectionFiles().open)
    if (s.file == file) return s.path;
  return {};
}

// Copies the rest of `in` onto the output inside the system, without
// taking the bytes through this process: true when all was copied; false
// when the system cannot copy between the two files or a copy failed, and
// the caller copies the rest (from where the copy stopped), which meets
// and reports a failure of reading or writing itself.
bool copiedInside(int in, OutputFile& out) {
  for (;;) {
    const ssize_t n = copy_file_range(in, nullptr, out.descriptor(), nullptr, kSectionBuffer * 64, 0);
    if (n > 0) continue;
    if (n == 0) return true;
    if (errno != EINTR) return false;
  }
}

// Copies one section file onto the output; 1 when it was missing, -1 when
// reading failed, -2 when writing failed.
int appendFile(const std::string& path, OutputFile& out) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return 1;
  std::setvbuf(in, nullptr, _IONBF, 0);
  if (out.descriptor() >= 0 && !out.failed() && copiedInside(fileno(in), out)) {
    std::fclose(in);
    return 0;
  }
  int result = 0;
  std::vector<char> buffer(kSectionBuffer);
  for (;;) {
    const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), in);
    if (n > 0 && !out.write(buffer.data(), n)) {
      result = -2;
      break;
    }
    if (n < buffer.size()) {
      if (std::ferror(in)) result = -1;
      break;
    }
  }
  std::fclose(in);
  return result;
}

}  // namespace

std::FILE* createSectionFile(const std::string& nameLike, std::string& path) {
  TraceScope t("scl100");
  std::FILE* f = createScratchFile(nameLike, "wb", path);
  if (f == nullptr) return f;
  sectionFiles().open.push_back({f, path});
  // The directory and parameter sections of a large drawing run to hundreds
  // of megabytes: they are written in large pieces, not in pages.
  std::setvbuf(f, nullptr, _IOFBF, kSectionBuffer);
  return f;
}

void removeSectionFile(const std::string& path) {
  if (path.empty()) return;
  std::vector<OpenSection>& open = sectionFiles().open;
  for (auto it = open.begin(); it != open.end();) {
    it = it->path == path ? open.erase(it) : it + 1;
  }
  removeScratchFile(path);
}

void removeAllSectionFiles() {
  std::vector<OpenSection> open;
  open.swap(sectionFiles().open);
  for (const OpenSection& s : open) removeScratchFile(s.path);
}

int openSectionFileSet(const std::string* names, int count, std::FILE** files, std::string* paths,
                       const char* code) {
  SectionFileState& state = sectionFiles();
  state.failedPath.clear();
  state.failedError = 0;
  state.failureReported = false;
  for (int i = 0; i < count; ++i) {
    paths[i].clear();
    files[i] = createSectionFile(names[i], paths[i]);
    if (files[i] == nullptr) {
      mfaReport(code, kMsgNoTemporaryFile, Channel::kConsole, Severity::kError, {}, {},
                fileFailureText(names[i], errno), nullptr);
      discardSectionFileSet(files, paths, i);
      return -1;
    }
  }
  return 0;
}

bool closeSectionFileSet(std::FILE** files, int count) {
  bool closed = true;
  for (int i = 0; i < count; ++i) {
    if (files[i] == nullptr) continue;
    const std::string path = pathOf(files[i]);
    for (OpenSection& s : sectionFiles().open)
      if (s.file == files[i]) s.file = nullptr;
    if (std::fclose(files[i]) != 0) {
      closed = false;
      SectionFileState& state = sectionFiles();
      if (state.failedError == 0) {
        state.failedError = errno != 0 ? errno : EIO;
        state.failedPath = path;
      }
    }
    files[i] = nullptr;
  }
  return closed;
}

void discardSectionFileSet(std::FILE** files, const std::string* paths, int count) {
  for (int i = 0; i < count; ++i) {
    if (files[i] != nullptr) std::fclose(files[i]);
    files[i] = nullptr;
    removeSectionFile(paths[i]);
  }
}

void noteSectionWriteFailure(std::FILE* file, int error) {
  SectionFileState& state = sectionFiles();
  if (state.failedError != 0) return;
  state.failedError = error != 0 ? error : EIO;
  state.failedPath = pathOf(file);
}

bool sectionWriteFailed() { return sectionFiles().failedError != 0; }

void reportSectionWriteFailure(const char* code) {
  SectionFileState& state = sectionFiles();
  if (state.failedError == 0 || state.failureReported) return;
  state.failureReported = true;
  mfaReport(code, kMsgCannotWrite, Channel::kBoth, Severity::kError, {}, {},
            fileFailureText(state.failedPath, state.failedError), nullptr);
}

JoinResult joinFiles(const std::string* sectionFiles, int count, const std::string& outputName,
                     const char* code) {
  TraceScope t("scl200");
  JoinResult result;
  OutputFile out;
  auto cannotWrite = [&](int message) {
    out.discard();
    for (int i = 0; i < count; ++i) removeSectionFile(sectionFiles[i]);
    mfaReport(code, message, Channel::kBoth, Severity::kError, {}, {}, out.failureText(), nullptr);
    result.status = -4;
    return result;
  };
  if (!out.create(outputName)) return cannotWrite(kMsgCannotCreate);
  for (int i = 0; i < count; ++i) {
    const int r = appendFile(sectionFiles[i], out);
    if (r == 1) ++result.missing;
    if (r == -1) {
      // The section file itself could not be read back.
      for (int k = 0; k < count; ++k) removeSectionFile(sectionFiles[k]);
      out.discard();
      mfaReport(code, kMsgCannotWrite, Channel::kBoth, Severity::kError, {}, {},
                fileFailureText(sectionFiles[i], errno), nullptr);
      result.status = -4;
      return result;
    }
    if (r == -2) return cannotWrite(kMsgCannotWrite);
    if (r == 0) removeSectionFile(sectionFiles[i]);
  }
  if (!out.commit()) return cannotWrite(kMsgCannotWrite);
  return result;
}
