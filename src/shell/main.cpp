#include "shell/shell.h"

int main(int argc, char** argv) { return SDL_main_body(argc, argv); }
