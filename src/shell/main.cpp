#include "exchange/exchange.h"
#include "shell/shell.h"

int main(int argc, char** argv) {
  int status = exchangeCommand(argc, argv);  // commands that open no window
  return status >= 0 ? status : SDL_main_body(argc, argv);
}
