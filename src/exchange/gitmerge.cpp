// Maps in git: the merge driver (--merge BASE OURS THEIRS [PATH], git's
// %O %A %B %P) and the lines that set up the merge and diff drivers
// (--git-setup). The merge itself is the model's three-way merge.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "core/files.h"
#include "exchange/internal.h"
#include "model/mapfile.h"
#include "model/merge.h"

namespace {
const size_t STDERR_CONFLICTS = 20;      // conflicts shown on standard error; all in the report
const char REPORT_SUFFIX[] = ".conflicts.txt";
const char DRIVER_NAME[] = "moska2";     // the merge= and diff= attribute value
const size_t EXE_PATH_LEN = 4096;

// The three maps of a merge, freed together.
struct MergeInput {
  Map base, ours, theirs, out;
  ~MergeInput() {
    freeMapRecord(&base);
    freeMapRecord(&ours);
    freeMapRecord(&theirs);
    freeMapRecord(&out);
  }
};

// The file name stored in a map file (the reader skips it), so the merge
// keeps OURS' bytes where nothing changed; "" when it cannot be read.
std::string storedName(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return "";
  std::string name;
  unsigned char b[3];
  if (fread(b, 1, 3, f) == 3 && b[0] == '$' && fseek(f, b[1] | b[2] << 8, SEEK_CUR) == 0 &&
      fread(b, 1, 2, f) == 2) {
    std::string s(b[0] | b[1] << 8, '\0');
    if (!s.empty() && fread(&s[0], 1, s.size(), f) == s.size() && s.back() == 0) name = s.c_str();
  }
  fclose(f);
  return name;
}

// One conflict as a line of the report and of standard error.
std::string conflictLine(const std::string& map, const MergeConflict& c, const MergeInput& in) {
  return mergeConflictText(map, c, in.base.sysname, in.ours.sysname, in.theirs.sysname);
}

// Writes f whole beside path and renames it over path (crash-safe).
template <typename Write>
bool replaceFile(const std::string& path, Write write, std::string* error) {
  char temp[EXE_PATH_LEN];
  FILE* f = replacingOpen(path.c_str(), nullptr, temp, sizeof temp);
  int err = 0;
  if (f && replacingCommit(f, temp, path.c_str(), write(f), &err)) return true;
  *error = "cannot write " + path + ": " + strerror(f ? err : errno);
  return false;
}

bool writeReport(const std::string& path, const std::string& map, const MergeInput& in,
                 const MergeReport& r, std::string* error) {
  return replaceFile(path, [&](FILE* f) {
    fprintf(f, "# moska2 --merge of %s: %s, ours kept in each\n", map.c_str(), mergeCounted(r).c_str());
    for (const MergeConflict& c : r.conflicts) fprintf(f, "%s\n", conflictLine(map, c, in).c_str());
    if (r.total > r.conflicts.size())
      fprintf(f, "# and %zu more conflicts, not listed\n", r.total - r.conflicts.size());
    return ferror(f) == 0;
  }, error);
}

// The running program, for the lines of --git-setup.
std::string programPathForGit() {
  char exe[EXE_PATH_LEN];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return DRIVER_NAME;
  exe[n] = 0;
  return strchr(exe, '\'') ? std::string(DRIVER_NAME) : std::string(exe);
}
}  // namespace

int runMerge(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    fprintf(stderr, "moska2: --merge takes BASE OURS THEIRS [PATH] (see moska2 --help)\n");
    return CLI_MERGE_REFUSED;
  }
  std::string ours = argv[3], map = argc == 6 ? argv[5] : ours, error;
  MergeInput in;
  if (!readMapPath(argv[2], &in.base, &error) || !readMapPath(ours, &in.ours, &error) ||
      !readMapPath(argv[4], &in.theirs, &error)) {
    fprintf(stderr, "moska2: merge of %s refused: %s; %s left as it was\n", map.c_str(), error.c_str(),
            ours.c_str());
    return CLI_MERGE_REFUSED;
  }
  std::string stored = storedName(ours);
  if (!stored.empty()) {
    free(in.ours.filename);
    in.ours.filename = strdup(stored.c_str());
  }
  MergeReport r;
  MergeResult result = mergeMapsTakingOurs(&in.base, &in.ours, &in.theirs, MERGE_OURS, &in.out, &r);
  if (result != MERGE_OK) {
    fprintf(stderr, "moska2: merge of %s failed: %s; %s left as it was\n", map.c_str(),
            result == MERGE_NO_MEMORY ? "not enough memory" : "more than 65535 layers", ours.c_str());
    return CLI_MERGE_FAILED;
  }
  if (!replaceFile(ours, [&](FILE* f) { return writeMapStream(f, &in.out); }, &error)) {
    fprintf(stderr, "moska2: merge of %s failed: %s; left as it was\n", map.c_str(), error.c_str());
    return CLI_MERGE_FAILED;
  }
  if (r.total == 0) return CLI_MERGE_CLEAN;
  for (size_t i = 0; i < r.conflicts.size() && i < STDERR_CONFLICTS; i++)
    fprintf(stderr, "CONFLICT %s\n", conflictLine(map, r.conflicts[i], in).c_str());
  std::string report = map + REPORT_SUFFIX;
  bool reported = writeReport(report, map, in, r, &error);
  fprintf(stderr, "moska2: %s merged with %s, ours kept in each; %s\n", map.c_str(), mergeCounted(r).c_str(),
          reported ? ("every conflict listed in " + report).c_str() : error.c_str());
  return CLI_MERGE_CONFLICTS;
}

int runGitSetup(int argc, char**) {
  if (argc != 2) {
    fprintf(stderr, "moska2: --git-setup takes no argument (see moska2 --help)\n");
    return CLI_MERGE_REFUSED;
  }
  std::string exe = programPathForGit();
  printf("# In the repository, run:\n");
  printf("git config merge.%s.driver '%s --merge %%O %%A %%B %%P'\n", DRIVER_NAME, exe.c_str());
  printf("git config diff.%s.command '%s --diff'\n", DRIVER_NAME, exe.c_str());
  printf("# and add this line to its .gitattributes:\n");
  printf("*.map merge=%s diff=%s\n", DRIVER_NAME, DRIVER_NAME);
  return 0;
}
