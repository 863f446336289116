// The project file "PROJECT.MSK": the one writer of its text.
#include "model/model.h"

bool writeProjectStream(FILE* f, const Project& p, int maps) {
  return fprintf(f,
                 "NAME %s\nCRC %ld\nMAPINDEX %d\nMAPS %d\nCURRENTMAP %ld\nCURRENTLAYER %d\n"
                 "CURRENTELEMENT %ld\nELEMENTINDEX %d\nCURRENTMENU %s\nWORKINGMAP %s\n",
                 p.name, (long)p.crc, p.mapIndex, maps, (long)p.currentMap, p.currentLayer,
                 (long)p.currentElement, p.elementIndex, p.currentMenu, p.workingMap) > 0;
}
