#include "host/cli.h"

int main(int argc, char** argv) { return svhost::cli::main(argc, argv); }
