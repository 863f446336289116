// The program's commands that need no window.
#include <stdio.h>
#include <string.h>

#include <string>

#include "exchange/exchange.h"
#include "exchange/internal.h"
#include "core/core.h"

namespace {
enum {
  EXIT_OK = 0,
  EXIT_FAILED = 1,
  EXIT_USAGE = 2,
  EXIT_DROPPED = 3,  // --import: some of the objects cannot come over (listed); nothing written
};

const char USAGE[] =
    "Usage: moska2 [PROJECT | ?]\n"
    "       moska2 --export PROJECT MAP OUT\n"
    "       moska2 --import IN PROJECT MAP [--force]\n"
    "       moska2 --merge BASE OURS THEIRS [PATH]\n"
    "       moska2 --diff OLD NEW [OUT.png]\n"
    "       moska2 --git-setup | --help | --version\n";

const char HELP[] =
    "\n"
    "Without an option, starts the tile-map editor on PROJECT (a project folder\n"
    "or its PROJECT.MSK), on the last project, or with '?' on the project choice.\n"
    "\n"
    "  --export PROJECT MAP OUT   write map MAP (its name in maps/, without .map)\n"
    "                             to OUT: .tmx (Tiled XML), .tmj or .json (Tiled\n"
    "                             JSON), .png (every layer, 16 pixels a cell);\n"
    "                             entities go to the object group \"entities\"\n"
    "  --import IN PROJECT MAP    read the Tiled map IN (.tmx, .tmj, .json) into the\n"
    "                             new map MAP, copying its tileset images into\n"
    "                             layers/ and writing their pass conditions; its\n"
    "                             objects become entities (definitions made in\n"
    "                             models/ when missing). What of them cannot come\n"
    "                             over is listed on standard error, and nothing is\n"
    "                             imported (exit 3) unless --force is given\n"
    "  --force                    let --import replace an existing map and leave\n"
    "                             out what cannot come over\n"
    "  --merge BASE OURS THEIRS [PATH]\n"
    "                             git merge driver (%O %A %B %P): merges the maps\n"
    "                             OURS and THEIRS cell by cell against BASE into\n"
    "                             OURS. Exit 0: merged; 1: merged with conflicts\n"
    "                             (OURS' value kept in each, listed on standard\n"
    "                             error and in PATH.conflicts.txt, else\n"
    "                             OURS.conflicts.txt); 2: an input is not a\n"
    "                             readable map; 3: the merge could not be written.\n"
    "                             OURS is left as it was unless the status is 0 or 1\n"
    "  --diff OLD NEW             describe what changed between two map files,\n"
    "                             changed cells as runs per layer and row (exit 0:\n"
    "                             same, 1: changed, 2: unreadable); with git's seven\n"
    "                             arguments it is git's external diff driver (exit 0)\n"
    "  --diff OLD NEW OUT.png     also draw NEW with the changed cells highlighted\n"
    "                             (tilesets from the project above NEW's maps/)\n"
    "  --git-setup                print the git config and .gitattributes lines\n"
    "                             that make git merge and diff maps with moska2\n"
    "  --help                     show this help\n"
    "  --version                  show the version\n"
    "\n"
    "These commands open no window and need no display.\n";

int usageError(const char* what) {
  fprintf(stderr, "moska2: %s (see moska2 --help)\n", what);
  return EXIT_USAGE;
}

int failed(const char* what, const std::string& error) {
  fprintf(stderr, "moska2: %s failed: %s\n", what, error.c_str());
  return EXIT_FAILED;
}

int runExport(int argc, char** argv) {
  if (argc != 5) return usageError("--export takes PROJECT MAP OUT");
  std::string error;
  if (!exportMap(argv[2], argv[3], argv[4], &error)) return failed("export", error);
  printf("Map %s exported to %s\n", argv[3], argv[4]);
  return EXIT_OK;
}

int runImport(int argc, char** argv) {
  bool force = argc == 6 && strcmp(argv[5], "--force") == 0;
  if (argc != 5 && !force) return usageError("--import takes IN PROJECT MAP [--force]");
  std::string error;
  std::vector<std::string> dropped;
  bool ok = importMap(argv[2], argv[3], argv[4], force, &error, &dropped);
  for (const std::string& line : dropped) fprintf(stderr, "moska2: import: %s\n", line.c_str());
  if (!ok) {
    failed("import", error);
    return dropped.empty() || force ? EXIT_FAILED : EXIT_DROPPED;  // without --force, drops refuse alone
  }
  printf("%s imported as map %s\n", argv[2], argv[4]);
  return EXIT_OK;
}
}  // namespace

int exchangeCommand(int argc, char** argv) {
  if (argc < 2 || strncmp(argv[1], "--", 2) != 0) return -1;
  setvbuf(stdout, nullptr, _IOLBF, 0);
  const char* cmd = argv[1];
  if (strcmp(cmd, "--export") == 0) return runExport(argc, argv);
  if (strcmp(cmd, "--import") == 0) return runImport(argc, argv);
  if (strcmp(cmd, "--merge") == 0) return runMerge(argc, argv);
  if (strcmp(cmd, "--diff") == 0) return runDiff(argc, argv);
  if (strcmp(cmd, "--git-setup") == 0) return runGitSetup(argc, argv);
  bool info = strcmp(cmd, "--help") == 0 || strcmp(cmd, "--version") == 0;
  if (info && argc != 2) return usageError((std::string(cmd) + " takes no argument").c_str());
  if (strcmp(cmd, "--help") == 0) {
    printf("MOSKA 2 %s, tile-map editor with live collaboration\n\n%s%s", version, USAGE, HELP);
    return EXIT_OK;
  }
  if (strcmp(cmd, "--version") == 0) {
    printf("moska2 %s\n", version);
    return EXIT_OK;
  }
  return usageError((std::string("unknown option ") + cmd).c_str());
}
